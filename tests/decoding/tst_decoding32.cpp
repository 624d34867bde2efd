#include "decoding.h"

#include <QtTest>

// 32-bit rules: register A and the register after it, A+1, read as one value. The register
// values below are the two words as they come on the wire; the expected texts were worked out
// by hand (byte orders, two's complement) and the float texts checked with Python's struct
// module (the shortest digits that read back as the same single-precision value).
class TestDecoding32 : public QObject
{
    Q_OBJECT

private slots:
    void byteOrders_data();
    void byteOrders() { checkRow(); }
    void integers_data();
    void integers() { checkRow(); }
    void floats_data();
    void floats() { checkRow(); }
    void mapsAndUnit_data();
    void mapsAndUnit() { checkRow(); }
    void missingNextRegister_data();
    void missingNextRegister() { checkRow(); }
    void arrayRules_data();
    void arrayRules() { checkRow(); }
    void sixteenBitKeysIgnored_data();
    void sixteenBitKeysIgnored() { checkRow(); }

private:
    static void columns();
    static void row(const char *name, const QString &rule, int first, int second,
                    const QString &expected);
    void checkRow();
};

namespace {
const int missing = -1; // the reply ends with register A
}

void TestDecoding32::columns()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<QString>("expected");
}

void TestDecoding32::row(const char *name, const QString &rule, int first, int second,
                         const QString &expected)
{
    QTest::newRow(name) << rule << first << second << expected;
}

void TestDecoding32::checkRow()
{
    QFETCH(QString, rule);
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(QString, expected);

    QJsonDocument document;
    parseRule(rule, document);
    const std::optional<quint16> next =
            second == missing ? std::nullopt : std::optional<quint16>(quint16(second));
    QCOMPARE(decodeValue(quint16(first), next, compileRule(document)), expected);
}

void TestDecoding32::byteOrders_data()
{
    columns();
    // Wire bytes 12 34 56 78.
    row("ABCD", R"({"type":"U32","order":"ABCD"})", 0x1234, 0x5678, "305419896");   // 0x12345678
    row("CDAB", R"({"type":"U32","order":"CDAB"})", 0x1234, 0x5678, "1450709556");  // 0x56781234
    row("BADC", R"({"type":"U32","order":"BADC"})", 0x1234, 0x5678, "873625686");   // 0x34127856
    row("DCBA", R"({"type":"U32","order":"DCBA"})", 0x1234, 0x5678, "2018915346");  // 0x78563412
    row("no order is ABCD", R"({"type":"U32"})", 0x1234, 0x5678, "305419896");
    row("unknown order is ABCD", R"({"type":"U32","order":"ACBD"})", 0x1234, 0x5678, "305419896");
    row("lower-case order is ABCD", R"({"type":"U32","order":"cdab"})", 0x1234, 0x5678, "305419896");
    // 1.5 is 0x3FC00000 in every order.
    row("F32 1.5 ABCD", R"({"type":"F32"})", 0x3FC0, 0x0000, "1.5");
    row("F32 1.5 CDAB", R"({"type":"F32","order":"CDAB"})", 0x0000, 0x3FC0, "1.5");
    row("F32 1.5 BADC", R"({"type":"F32","order":"BADC"})", 0xC03F, 0x0000, "1.5");
    row("F32 1.5 DCBA", R"({"type":"F32","order":"DCBA"})", 0x0000, 0xC03F, "1.5");
    // The simulated sensor's flight time: 5195555 ns = 0x004F4723, low word first.
    row("sensor flight time CDAB", R"({"type":"U32","order":"CDAB"})", 0x4723, 0x004F, "5195555");
}

void TestDecoding32::integers_data()
{
    columns();
    row("U32 largest", R"({"type":"U32"})", 0xFFFF, 0xFFFF, "4294967295");
    row("U32 high bit", R"({"type":"U32"})", 0x8000, 0x0000, "2147483648");
    row("I32 -1", R"({"type":"I32"})", 0xFFFF, 0xFFFF, "-1");
    row("I32 -2", R"({"type":"I32"})", 0xFFFF, 0xFFFE, "-2");
    row("I32 lowest", R"({"type":"I32"})", 0x8000, 0x0000, "-2147483648");
    row("I32 highest", R"({"type":"I32"})", 0x7FFF, 0xFFFF, "2147483647");
    row("U32 dot 3", R"({"type":"U32","dot":3})", 0x0001, 0xE240, "123.456");        // 123456
    row("U32 largest dot 1", R"({"type":"U32","dot":1})", 0xFFFF, 0xFFFF, "429496729.5");
    row("I32 dot 2 negative", R"({"type":"I32","dot":2})", 0xFFFF, 0xCFC7, "-123.45"); // -12345
    row("I32 dot 1 -1", R"({"type":"I32","dot":1})", 0xFFFF, 0xFFFF, "-0.1");
    row("U32 dot 0 gives no text, as for 16 bits", R"({"type":"U32","dot":0})", 0, 7, "");
}

void TestDecoding32::floats_data()
{
    columns();
    row("1.5", R"({"type":"F32"})", 0x3FC0, 0x0000, "1.5");
    row("0.1", R"({"type":"F32"})", 0x3DCC, 0xCCCD, "0.1");
    row("sensor distance 0.9", R"({"type":"F32"})", 0x3F66, 0x6666, "0.9");
    row("-2.5", R"({"type":"F32"})", 0xC020, 0x0000, "-2.5");
    row("1 without a point", R"({"type":"F32"})", 0x3F80, 0x0000, "1");
    row("negative zero", R"({"type":"F32"})", 0x8000, 0x0000, "-0");
    row("NaN", R"({"type":"F32"})", 0x7FC0, 0x0000, "NaN");
    row("infinity", R"({"type":"F32"})", 0x7F80, 0x0000, "inf");
    row("minus infinity", R"({"type":"F32"})", 0xFF80, 0x0000, "-inf");
    row("largest", R"({"type":"F32"})", 0x7F7F, 0xFFFF, "3.4028235e+38");
    row("smallest subnormal", R"({"type":"F32"})", 0x0000, 0x0001, "1e-45");
    row("1e-5 has an exponent", R"({"type":"F32"})", 0x3727, 0xC5AC, "1e-05");
    row("1e-4 is plain", R"({"type":"F32"})", 0x38D1, 0xB717, "0.0001");
    row("123456789 rounds to 9 digits", R"({"type":"F32"})", 0x4CEB, 0x79A3, "123456790");
    row("2^24 whole", R"({"type":"F32"})", 0x4B80, 0x0000, "16777216");
    row("6.4e15 is plain", R"({"type":"F32"})", 0x59B5, 0xE621, "6400000000000000");
    row("1e16 has an exponent", R"({"type":"F32"})", 0x5A0E, 0x1BCA, "1e+16");
    row("dot 2", R"({"type":"F32","dot":2})", 0x3FC0, 0x0000, "1.50");
    row("dot 3 on 0.1", R"({"type":"F32","dot":3})", 0x3DCC, 0xCCCD, "0.100");
    row("dot does not divide", R"({"type":"F32","dot":1})", 0x4B80, 0x0000, "16777216.0");
    row("dot on NaN", R"({"type":"F32","dot":2})", 0x7FC0, 0x0000, "NaN");
    row("dot on infinity", R"({"type":"F32","dot":2})", 0xFF80, 0x0000, "-inf");
}

void TestDecoding32::mapsAndUnit_data()
{
    columns();
    const char *running = R"({"type":"U32","maps":{"1":"运行","others":"停止"}})";
    row("object map key", running, 0x0000, 0x0001, "运行");
    row("object map others", running, 0x0001, 0x0000, "停止");
    row("map key beyond 16 bits", R"({"type":"U32","maps":{"65536":"满"}})", 0x0001, 0x0000, "满");
    row("array map index", R"({"type":"F32","maps":["零","一"]})", 0x3F80, 0x0000, "一");
    row("map names NaN", R"({"type":"F32","maps":{"NaN":"无回波"}})", 0x7FC0, 0x0000, "无回波");
    row("map on a fixed-point text", R"({"type":"I32","dot":1,"maps":{"-0.1":"低"}})", 0xFFFF,
        0xFFFF, "低");
    row("unit after a float", R"({"type":"F32","unit":"m"})", 0x3F66, 0x6666, "0.9m");
    row("unit after an integer", R"({"type":"U32","order":"CDAB","unit":"ns"})", 0x4723, 0x004F,
        "5195555ns");
}

void TestDecoding32::missingNextRegister_data()
{
    columns();
    row("U32", R"({"type":"U32"})", 0x1234, missing, "--");
    row("F32", R"({"type":"F32"})", 0x3FC0, missing, "--");
    row("no unit or map on the mark", R"({"type":"F32","unit":"m","maps":{"others":"x"}})", 0,
        missing, "--");
    row("16-bit rule needs no next", R"({"type":"HEX"})", 0x00FF, missing, "FF");
}

void TestDecoding32::arrayRules_data()
{
    columns();
    row("16-bit then 32-bit", R"([{"type":"HEX"},{"type":"U32"}])", 0x00FF, 0x0001,
        "[FF] [16711681] ");
    row("two orders side by side", R"([{"type":"U32"},{"type":"F32","order":"CDAB"}])", 0x0000,
        0x3FC0, "[16320] [1.5] ");
    row("missing next only marks the 32-bit element", R"([{"type":"HEX"},{"type":"U32"}])", 0x00FF,
        missing, "[FF] [--] ");
}

void TestDecoding32::sixteenBitKeysIgnored_data()
{
    columns();
    row("bits and signed do not apply", R"({"type":"U32","bits":"0:7","signed":true})", 0xFFFF,
        0xFFFF, "4294967295");
    row("signed false does not stop I32", R"({"type":"I32","signed":false})", 0xFFFF, 0xFFFF, "-1");
    row("lower-case u32 is a 16-bit decimal", R"({"type":"u32"})", 0x0001, 0x0002, "1");
    row("order alone is a 16-bit rule", R"({"order":"CDAB"})", 0x0001, 0x0002, "1");
}

QTEST_GUILESS_MAIN(TestDecoding32)
#include "tst_decoding32.moc"
