// libFuzzer target: the proxy list readers of ProxyListModel, over the text
// that loadFromFile would hand to the page or the store would hold.
//
// Rules checked: an import reads every element or nothing; every row read has
// a finite port and starts "unknown"; what is read, written and read again is
// the same list, and writing it again gives the same text (unless it holds
// a lone surrogate, which no file or store can hold).
#include "proxylistmodel.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void broken(const char *rule)
{
    std::fprintf(stderr, "broken: %s\n", rule);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static int qtArgc = 1;
    static char *qtArgv[] = { (*argv)[0], nullptr };
    (void)argc;
    static QCoreApplication app(qtArgc, qtArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto imported = ProxyListModel::read(text, ProxyListModel::Reading::Imported);
    const auto stored = ProxyListModel::read(text, ProxyListModel::Reading::Stored);
    if (!imported.error.isEmpty() && !imported.entries.isEmpty())
        broken("a failed import kept entries");
    if (imported.error.isEmpty() && (!stored.error.isEmpty() || stored.entries.size() != imported.entries.size()))
        broken("a list the import reads whole reads otherwise from the store");

    ProxyListModel model;
    if (!model.appendStored(text) && !stored.error.isEmpty() && model.count() != stored.entries.size())
        broken("the rows before a fault were not kept");
    for (int i = 0; i < model.count(); ++i) {
        if (!std::isfinite(model.entry(i).port) || model.entry(i).status != QLatin1String("unknown"))
            broken("a row read with an odd port or status");
    }
    for (const bool indented : { false, true }) {
        const QString written = model.toJson(indented);
        // A lone surrogate (from an escape) is written as it is, as the script
        // engine writes it; no file or store can hold it.
        if (QString::fromUtf8(written.toUtf8()) != written)
            break;
        ProxyListModel again;
        if (!again.appendStored(written) || again.count() != model.count() || again.toJson(indented) != written
            || again.toJson(!indented) != model.toJson(!indented))
            broken("a written list does not read back as itself");
    }
    return 0;
}
