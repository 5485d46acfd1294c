#include "qmltypes.h"
#include "statusfiltermodel.h"

#include <QtQml/qqml.h>

void registerQuillfenTypes()
{
    qmlRegisterType<StatusFilterModel>("Quillfen", 1, 0, "StatusFilterModel");
}
