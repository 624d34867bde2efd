// Rule cells come from workbooks anyone may hand the user: parsing and decoding must give a
// text for every input and every register value, without crashing or hanging.
#include "decoding.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void silence(QtMsgType, const QMessageLogContext &, const QString &) {}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The decoder's debug lines would drown the fuzzer's own output.
    qInstallMessageHandler(silence);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString original = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    QString text = original;
    QJsonDocument rule;
    parseRule(text, rule);

    if (original.contains(QLatin1Char('{')))
        require(text == original);
    else
        require(text == QLatin1Char('{') + original + QLatin1Char('}'));

    static const quint16 values[] = { 0, 1, 9, 10, 0x7F, 0x80, 0xFF, 0x1234, 0x7FFF, 0x8000, 0xFFF1, 0xFFFF };
    for (quint16 value : values) {
        const QString shown = decodeValue(value, rule);
        if (rule.isNull())
            require(shown.isEmpty());
        if (rule.isObject())
            require(shown == applyRule(value, rule.object()));
    }
    return 0;
}
