#include "qmltypes.h"

#include "proxylines.h"

#include <QtQml/qqml.h>

void registerQuillfenTypes()
{
    qmlRegisterSingletonType<ProxyLines>("Quillfen", 1, 0, "ProxyLines",
                                         [](QQmlEngine *, QJSEngine *) { return new ProxyLines; });
}
