// The settings file is hand-editable: any text must load without harm, and what is then
// written must load back to exactly the same settings.
#include "myconfig.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <tuple>

namespace {

auto members()
{
    return std::make_tuple(MyConfig::destDir, MyConfig::serialName, MyConfig::serialBaudrate,
                           MyConfig::serialParity, MyConfig::serialStopbits, MyConfig::protocolFile,
                           MyConfig::period, MyConfig::isRepeat, MyConfig::regsType,
                           MyConfig::regsAddrRead, MyConfig::regsLenRead, MyConfig::regsAddrWrite,
                           MyConfig::regsLenWrite, MyConfig::deviceAddr, MyConfig::selectEnable,
                           MyConfig::changeWarnEnable);
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MyConfig::restoreDefaults();
    MyConfig::fromJson(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    const auto loaded = members();

    const QByteArray written = MyConfig::toJson();
    require(QJsonDocument::fromJson(written).isObject());

    // From defaults again, so every member has to come from the written text.
    MyConfig::restoreDefaults();
    MyConfig::fromJson(written);
    require(members() == loaded);
    return 0;
}
