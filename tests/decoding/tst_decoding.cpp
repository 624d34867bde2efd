#include "decoding.h"

#include <QLoggingCategory>
#include <QtTest>

// Rule texts are written as an author types them into the rule cell; expected texts are what
// the display column must show.
class TestDecoding : public QObject
{
    Q_OBJECT

private slots:
    void parseRuleChangesText_data();
    void parseRuleChangesText();

    void bits_data();
    void bits() { checkRow(); }
    void signedValues_data();
    void signedValues() { checkRow(); }
    void bcd_data();
    void bcd() { checkRow(); }
    void dot_data();
    void dot() { checkRow(); }
    void hex_data();
    void hex() { checkRow(); }
    void mapsObject_data();
    void mapsObject() { checkRow(); }
    void mapsArray_data();
    void mapsArray() { checkRow(); }
    void unit_data();
    void unit() { checkRow(); }
    void arrayRules_data();
    void arrayRules() { checkRow(); }
    void malformedRules_data();
    void malformedRules() { checkRow(); }

    void applyRuleOnObject();
    void number_data();
    void number();

private:
    static void columns();
    static void row(const char *name, const QString &rule, int raw, const QString &expected);
    void checkRow();
};

void TestDecoding::columns()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("expected");
}

void TestDecoding::row(const char *name, const QString &rule, int raw, const QString &expected)
{
    QTest::newRow(name) << rule << raw << expected;
}

void TestDecoding::checkRow()
{
    QFETCH(QString, rule);
    QFETCH(int, raw);
    QFETCH(QString, expected);

    QJsonDocument document;
    parseRule(rule, document);
    QCOMPARE(decodeValue(quint16(raw), document), expected);
}

void TestDecoding::parseRuleChangesText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("changed");
    QTest::addColumn<QString>("kind");

    QTest::newRow("empty text becomes empty object") << "" << "{}" << "object";
    QTest::newRow("members without braces") << R"("type":"HEX")" << R"({"type":"HEX"})" << "object";
    QTest::newRow("object kept") << R"({"dot":1})" << R"({"dot":1})" << "object";
    QTest::newRow("padded object kept") << R"( {"dot":1} )" << R"( {"dot":1} )" << "object";
    QTest::newRow("array of objects kept") << "[{},{}]" << "[{},{}]" << "array";
    QTest::newRow("single word wrapped, not JSON") << "hello" << "{hello}" << "null";
    QTest::newRow("array without objects wrapped, not JSON") << "[1,2]" << "{[1,2]}" << "null";
    QTest::newRow("brace inside a string is not wrapped") << R"("unit":"{")" << R"("unit":"{")" << "null";
    QTest::newRow("unterminated object kept") << R"({"dot":2)" << R"({"dot":2)" << "null";
}

void TestDecoding::parseRuleChangesText()
{
    QFETCH(QString, text);
    QFETCH(QString, changed);
    QFETCH(QString, kind);

    QJsonDocument document = QJsonDocument::fromJson("[\"stale\"]");
    parseRule(text, document);
    QCOMPARE(text, changed);
    const QString actual = document.isObject() ? "object" : document.isArray() ? "array" : "null";
    QCOMPARE(actual, kind);
    QCOMPARE(document.isNull(), kind == "null");
}

void TestDecoding::bits_data()
{
    columns();
    row("8:15 high byte", R"({"bits":"8:15"})", 0x1234, "18");
    row("0:7 low byte", R"({"bits":"0:7"})", 0x1234, "52");
    row("12:15 top nibble", R"({"bits":"12:15"})", 0xABCD, "10");
    row("0:15 whole value", R"({"bits":"0:15"})", 0xABCD, "43981");
    row("4:4 bit set", R"({"bits":"4:4"})", 0x0010, "1");
    row("4:4 bit clear", R"({"bits":"4:4"})", 0x0FEF, "0");
    row("lone 3 is bit 3", R"({"bits":"3"})", 0x0008, "1");
    row("lone 3 ignores other bits", R"({"bits":"3"})", 0xFFF7, "0");
    row("numeric bits takes bit 0, set", R"({"bits":12})", 0x0003, "1");
    row("numeric bits takes bit 0, clear", R"({"bits":12})", 0x0002, "0");
    row("letters take bit 0", R"({"bits":"a:b"})", 0x0001, "1");
    row("hi below lo", R"({"bits":"5:3"})", 0xFFFF, "0");
    row("0:16 too wide", R"({"bits":"0:16"})", 0xFFFF, "0");
    row("0:31 too wide", R"({"bits":"0:31"})", 0xFFFF, "0");
    row("16:31 beyond the register", R"({"bits":"16:31"})", 0xFFFF, "0");
    row("missing hi reads 0", R"({"bits":"8:"})", 0xFFFF, "0");
    row("negative lo shifts by 31", R"({"bits":"-1:3"})", 0xFFFF, "0");
    row("lo beyond int reads 0", R"({"bits":"99999999999:3"})", 0xABCD, "13");
    row("extreme span", R"({"bits":"-2147483648:2147483647"})", 0xFFFF, "0");
    row("lo 40 shifts by 8", R"({"bits":"40:47"})", 0x1234, "18");
}

void TestDecoding::signedValues_data()
{
    columns();
    row("true, all ones", R"({"signed":true})", 65535, "-1");
    row("true, lowest", R"({"signed":true})", 0x8000, "-32768");
    row("true, highest positive", R"({"signed":true})", 0x7FFF, "32767");
    row("number 1", R"({"signed":1})", 65535, "-1");
    row("number -2", R"({"signed":-2})", 65535, "-1");
    row("number 0", R"({"signed":0})", 65535, "65535");
    row("false", R"({"signed":false})", 65535, "65535");
    row("text is not a flag", R"({"signed":"yes"})", 65535, "65535");
    row("fraction below 1 reads 0", R"({"signed":0.5})", 65535, "65535");
    row("low byte -1", R"({"bits":"0:7","signed":true})", 255, "-1");
    row("low byte -128", R"({"bits":"0:7","signed":true})", 0x0080, "-128");
    row("low byte 127", R"({"bits":"0:7","signed":true})", 0xFF7F, "127");
    row("high byte -128", R"({"bits":"8:15","signed":true})", 0x8000, "-128");
    row("width 4 not extended", R"({"bits":"0:3","signed":true})", 15, "15");
    row("width 1 not extended", R"({"bits":"15:15","signed":true})", 0x8000, "1");
}

void TestDecoding::bcd_data()
{
    columns();
    row("0x1234", R"({"type":"BCD"})", 0x1234, "1234");
    row("0x00AB counts A and B", R"({"type":"BCD"})", 0x00AB, "111");
    row("0x9999", R"({"type":"BCD"})", 0x9999, "9999");
    row("0xFFFF", R"({"type":"BCD"})", 0xFFFF, "16665");
    row("lower-case bcd is decimal", R"({"type":"bcd"})", 0x1234, "4660");
    row("negative after signed", R"({"type":"BCD","signed":true})", 0xFFFF, "166666665");
    row("high byte", R"({"type":"BCD","bits":"8:15"})", 0x4512, "45");
    row("with dot", R"({"type":"BCD","dot":2})", 0x1234, "12.34");
}

void TestDecoding::dot_data()
{
    columns();
    const QString thirty = QStringLiteral("0.") + QString(26, QLatin1Char('0')) + QStringLiteral("1234");
    row("2 places", R"({"dot":2})", 1234, "12.34");
    row("3 places, leading zeros", R"({"dot":3})", 5, "0.005");
    row("1 place, zero", R"({"dot":1})", 0, "0.0");
    row("4 places, largest", R"({"dot":4})", 65535, "6.5535");
    row("signed negative", R"({"dot":1,"signed":true})", 0xFFF1, "-1.5");
    row("2 places, whole", R"({"dot":2})", 100, "1.00");
    row("dot wins over HEX", R"({"dot":1,"type":"HEX"})", 255, "25.5");
    row("30 places", R"({"dot":30})", 1234, thirty);
    row("huge dot capped at 30", R"({"dot":1000000})", 1234, thirty);
    row("int max capped at 30", R"({"dot":2147483647})", 1234, thirty);
    row("dot 0 gives no text", R"({"dot":0})", 1234, "");
    row("negative dot gives no text", R"({"dot":-3})", 1234, "");
    row("text dot gives no text", R"({"dot":"2"})", 1234, "");
    row("fraction dot gives no text", R"({"dot":2.5})", 1234, "");
    row("beyond int gives no text", R"({"dot":1e300})", 1234, "");
    row("dot 0 keeps the unit", R"({"dot":0,"unit":"V"})", 1234, "V");
}

void TestDecoding::hex_data()
{
    columns();
    row("255", R"({"type":"HEX"})", 255, "FF");
    row("4660", R"({"type":"HEX"})", 4660, "1234");
    row("zero", R"({"type":"HEX"})", 0, "0");
    row("10", R"({"type":"HEX"})", 10, "A");
    row("0xABCD", R"({"type":"HEX"})", 0xABCD, "ABCD");
    row("signed -1 as 64 bits", R"({"type":"HEX","signed":true})", 65535, "FFFFFFFFFFFFFFFF");
    row("signed -32768 as 64 bits", R"({"type":"HEX","signed":true})", 0x8000, "FFFFFFFFFFFF8000");
    row("lower-case hex is decimal", R"({"type":"hex"})", 255, "255");
    row("numeric type is decimal", R"({"type":5})", 255, "255");
    row("high byte", R"({"type":"HEX","bits":"8:15"})", 0xAB00, "AB");
}

void TestDecoding::mapsObject_data()
{
    columns();
    const char *runStop = R"({"maps":{"1":"run","others":"stop"}})";
    row("mapped key", runStop, 1, "run");
    row("others", runStop, 2, "stop");
    row("no others keeps number", R"({"maps":{"1":"run"}})", 2, "2");
    row("non-string entry falls to others", R"({"maps":{"1":5,"others":"x"}})", 1, "x");
    row("non-string entry without others", R"({"maps":{"1":5}})", 1, "1");
    row("non-string others", R"({"maps":{"others":3}})", 2, "2");
    row("HEX key", R"({"type":"HEX","maps":{"FF":"full"}})", 255, "full");
    row("lower-case HEX key misses", R"({"type":"HEX","maps":{"ff":"full"}})", 255, "FF");
    row("fixed-point key", R"({"dot":1,"maps":{"1.5":"half"}})", 15, "half");
    row("negative key", R"({"signed":true,"maps":{"-1":"invalid"}})", 65535, "invalid");
    row("empty number text falls to others", R"({"dot":0,"maps":{"others":"none"}})", 7, "none");
    row("maps as text has no effect", R"({"maps":"abc"})", 7, "7");
    row("maps as number has no effect", R"({"maps":3})", 7, "7");
}

void TestDecoding::mapsArray_data()
{
    columns();
    const char *abc = R"({"maps":["a","b","c"]})";
    row("index 0", abc, 0, "a");
    row("index 1", abc, 1, "b");
    row("index 2", abc, 2, "c");
    row("past the end", abc, 3, "3");
    row("1.0 reads as 0", R"({"dot":1,"maps":["a","b","c"]})", 10, "a");
    row("HEX digits 2", R"({"type":"HEX","maps":["a","b","c"]})", 2, "c");
    row("HEX letters read as 0", R"({"type":"HEX","maps":["a","b","c"]})", 10, "a");
    row("negative index", R"({"signed":true,"maps":["a","b","c"]})", 65535, "-1");
    row("empty number text reads as 0", R"({"dot":0,"maps":["a","b","c"]})", 5, "a");
    row("non-string element", R"({"maps":["a",5,"c"]})", 1, "1");
    row("empty array", R"({"maps":[]})", 0, "0");
}

void TestDecoding::unit_data()
{
    columns();
    row("after a number", R"({"unit":"mm"})", 1234, "1234mm");
    row("after a mapped name", R"({"maps":{"1":"on"},"unit":" state"})", 1, "on state");
    row("after others", R"({"maps":{"others":"off"},"unit":"!"})", 9, "off!");
    row("after fixed-point", QString::fromUtf8(R"({"dot":1,"unit":"°C"})"), 235,
        QString::fromUtf8("23.5°C"));
    row("non-string unit appends nothing", R"({"unit":5})", 1234, "1234");
}

void TestDecoding::arrayRules_data()
{
    columns();
    row("empty then HEX", R"([{},{"type":"HEX"}])", 255, "[255] [FF] ");
    row("number between objects adds nothing", R"([{},5,{"type":"HEX"}])", 255, "[255] [FF] ");
    row("two bytes", R"([{"bits":"0:7"},{"bits":"8:15"}])", 0x1234, "[52] [18] ");
    row("text element adds nothing", R"(["x",{}])", 3, "[3] ");
    row("empty array is not JSON once wrapped", "[]", 3, "");
    row("array without objects is not JSON once wrapped", "[1,2]", 3, "");
}

void TestDecoding::malformedRules_data()
{
    columns();
    row("empty rule", "", 1234, "1234");
    row("blank rule", "   ", 1234, "1234");
    row("members without braces", R"("type":"HEX")", 255, "FF");
    row("single word", "hello", 1234, "");
    row("single word, zero", "hello", 0, "");
    row("bare number", "42", 1234, "");
    row("unterminated object", R"({"dot":2)", 1234, "");
    row("brace only in a string", R"("unit":"{")", 1234, "");
    row("unknown keys ignored", R"({"foo":1,"Type":"HEX"})", 255, "255");
    row("32-bit type with one register", R"({"type":"F32","unit":"m"})", 0x3FC0, "--");
    row("order alone is ignored", R"({"order":"DCBA"})", 258, "258");
}

void TestDecoding::applyRuleOnObject()
{
    QJsonObject rule;
    rule.insert("bits", "8:15");
    rule.insert("maps", QJsonObject{ { "18", "eighteen" } });
    rule.insert("unit", "!");
    QCOMPARE(applyRule(0x1234, rule), QString("eighteen!"));
    QCOMPARE(applyRule(0x1334, rule), QString("19!"));
    QCOMPARE(applyRule(0x1234, QJsonObject()), QString("4660"));
}

// The number a rule shows, which the trend plots: worked out with the text, never read back
// out of it.
void TestDecoding::number_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<int>("raw");
    QTest::addColumn<int>("next"); // -1: the reply ends with this register
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("number");

    QTest::newRow("plain decimal") << "{}" << 1234 << -1 << true << 1234.0;
    QTest::newRow("scaled, unit left out") << R"({"dot":1,"unit":"mm"})" << 9000 << -1 << true << 900.0;
    QTest::newRow("signed bit field") << R"({"bits":"0:7","signed":true})" << 0x12FE << -1 << true << -2.0;
    QTest::newRow("BCD") << R"({"type":"BCD"})" << 0x1234 << -1 << true << 1234.0;
    QTest::newRow("hex digits") << R"({"type":"HEX"})" << 255 << -1 << true << 255.0;
    QTest::newRow("hex of a negative value") << R"({"type":"HEX","signed":true})" << 65535 << -1 << true << -1.0;
    QTest::newRow("float with unit") << R"({"type":"F32","unit":"m"})" << 0x3F66 << 0x6666 << true << 0.9;
    QTest::newRow("float, fixed decimals") << R"({"type":"F32","dot":1})" << 0x3F66 << 0x6666 << true << 0.9;
    QTest::newRow("I32 scaled") << R"({"type":"I32","dot":2})" << 0xFFFF << 0xFF38 << true << -2.0;
    QTest::newRow("map name that is a number") << R"({"maps":{"96":"9600"}})" << 96 << -1 << true << 9600.0;
    QTest::newRow("value the map does not name") << R"({"maps":{"96":"9600"}})" << 7 << -1 << true << 7.0;
    QTest::newRow("map name") << R"({"maps":{"1":"开"}})" << 1 << -1 << false << 0.0;
    QTest::newRow("others name") << R"({"maps":{"1":"开","others":"未知"}})" << 2 << -1 << false << 0.0;
    QTest::newRow("array maps name") << R"({"maps":["关","开"]})" << 1 << -1 << false << 0.0;
    QTest::newRow("array rule") << R"([{},{"type":"HEX"}])" << 255 << -1 << false << 0.0;
    QTest::newRow("NaN") << R"({"type":"F32"})" << 0x7FC0 << 0 << false << 0.0;
    QTest::newRow("infinity") << R"({"type":"F32"})" << 0x7F80 << 0 << false << 0.0;
    QTest::newRow("next register missing") << R"({"type":"U32"})" << 1 << -1 << false << 0.0;
    QTest::newRow("empty number form") << R"({"dot":0,"unit":"V"})" << 5 << -1 << false << 0.0;
}

void TestDecoding::number()
{
    QFETCH(QString, rule);
    QFETCH(int, raw);
    QFETCH(int, next);
    QFETCH(bool, isNumber);
    QFETCH(double, number);

    QJsonDocument document;
    parseRule(rule, document);
    const CompiledRule compiled = compileRule(document);
    const std::optional<quint16> nextValue =
            next < 0 ? std::nullopt : std::optional<quint16>(quint16(next));
    const DecodedValue decoded = decodeRegister(quint16(raw), nextValue, compiled);
    QCOMPARE(decoded.text, decodeValue(quint16(raw), nextValue, compiled));
    QCOMPARE(decoded.number.has_value(), isNumber);
    if (isNumber)
        QCOMPARE(*decoded.number, number);
}

QTEST_GUILESS_MAIN(TestDecoding)
#include "tst_decoding.moc"
