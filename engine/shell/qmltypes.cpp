#include "qmltypes.h"

#include "listtools.h"
#include "proxylistmodel.h"
#include "statusfiltermodel.h"

#include <QtQml/qqml.h>

void registerQuillfenTypes()
{
    qmlRegisterType<ProxyListModel>("Quillfen", 1, 0, "ProxyListModel");
    qmlRegisterType<StatusFilterModel>("Quillfen", 1, 0, "StatusFilterModel");
    qmlRegisterSingletonType<ListTools>("Quillfen", 1, 0, "ListTools",
                                         [](QQmlEngine *, QJSEngine *) { return new ListTools; });
}
