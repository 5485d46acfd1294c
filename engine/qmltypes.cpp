#include "qmltypes.h"

#include "proxylines.h"
#include "proxylistmodel.h"
#include "statusfiltermodel.h"

#include <QtQml/qqml.h>

void registerQuillfenTypes()
{
    qmlRegisterType<ProxyListModel>("Quillfen", 1, 0, "ProxyListModel");
    qmlRegisterType<StatusFilterModel>("Quillfen", 1, 0, "StatusFilterModel");
    qmlRegisterSingletonType<ProxyLines>("Quillfen", 1, 0, "ProxyLines",
                                         [](QQmlEngine *, QJSEngine *) { return new ProxyLines; });
}
