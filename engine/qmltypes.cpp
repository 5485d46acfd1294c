#include "qmltypes.h"

#include <QtQml/qqml.h>

void registerQuillfenTypes()
{
}
