#ifndef READPLAN_H
#define READPLAN_H

#include <QModbusDataUnit>
#include <QString>

// The two kinds of link a session can open.
enum class LinkType { Serial, Tcp };

// What one request asks of a device: the register area, the server address, the first register
// and how many. The window makes it from its fields and rurodur-poll from its options; the limits
// of a request live here and nowhere else.
struct ReadPlan
{
    enum class Problem {
        None,
        UnknownArea,   // the area text names no register area
        InvalidServer, // not 0..maxServerFor(link)
        OutOfRange,    // start .. start + count - 1 leaves the 16-bit address space
    };

    QModbusDataUnit::RegisterType area = QModbusDataUnit::Invalid;
    int server = 1;
    int start = 0;
    int count = 0;

    // 0 is the broadcast address; 248..255 are reserved, and anything wider would reach the wire
    // as its low byte only.
    static constexpr int maxServer = 247;
    // A Modbus TCP unit identifier is a whole byte: 255 is what many TCP devices answer to, and
    // 0 is an ordinary address there, not a broadcast.
    static constexpr int maxTcpServer = 255;
    static constexpr int maxServerFor(LinkType link)
    {
        return link == LinkType::Tcp ? maxTcpServer : maxServer;
    }
    static constexpr int addressSpace = 0x10000;
    // The most values the window's count fields allow in one request.
    static constexpr int maxFieldCount = 127;
    // The most values one read may carry on the wire: 125 registers (functions 3 and 4) or 2000
    // bits (functions 1 and 2); 0 for an invalid area.
    static int protocolLimit(QModbusDataUnit::RegisterType area);

    static bool isValidServer(int server, LinkType link = LinkType::Serial)
    {
        return server >= 0 && server <= maxServerFor(link);
    }
    static bool fitsAddressSpace(int start, int count)
    {
        return start >= 0 && count >= 0 && qint64(start) + count <= addressSpace;
    }

    // The window's fields: the area text as a sheet name, the server address in base 10, start
    // and count as field numbers (base 16 with "0x", unparsable text 0). A count outside
    // 0..65535 is held at the nearest end, so it cannot wrap round into another count.
    static ReadPlan fromFields(const QString &areaText, const QString &serverText,
                               const QString &startText, const QString &countText);

    // The first problem of the plan, in the order the fields are checked, for a request on `link`.
    Problem problem(LinkType link = LinkType::Serial) const;
    QModbusDataUnit unit() const { return QModbusDataUnit(area, start, quint16(count)); }
};

#endif // READPLAN_H
