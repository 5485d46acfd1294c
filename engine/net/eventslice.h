#pragma once

#include <QtGlobal>

// Work over thousands of proxies hands control back to the event loop this
// often (milliseconds), so that the window paints between the slices.
constexpr qint64 eventSliceMs = 2;
