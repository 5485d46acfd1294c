#include "qmltypes.h"

#include "proxylistmodel.h"

#include <QtQml/qqml.h>

void registerQuillfenTypes()
{
    qmlRegisterType<ProxyListModel>("Quillfen", 1, 0, "ProxyListModel");
}
