#include "readplan.h"

#include "mytool.h"

int ReadPlan::protocolLimit(QModbusDataUnit::RegisterType area)
{
    switch (area) {
    case QModbusDataUnit::Coils:
    case QModbusDataUnit::DiscreteInputs:
        return 2000;
    case QModbusDataUnit::HoldingRegisters:
    case QModbusDataUnit::InputRegisters:
        return 125;
    default:
        return 0;
    }
}

ReadPlan ReadPlan::fromFields(const QString &areaText, const QString &serverText,
                              const QString &startText, const QString &countText)
{
    ReadPlan plan;
    plan.area = registerTypeOf(areaText);
    bool ok = false;
    plan.server = serverText.toInt(&ok, 10);
    if (!ok)
        plan.server = -1;
    plan.start = MyTool::textToInt(startText);
    plan.count = qBound(0, MyTool::textToInt(countText), 0xFFFF);
    return plan;
}

ReadPlan::Problem ReadPlan::problem(LinkType link) const
{
    if (area == QModbusDataUnit::Invalid)
        return Problem::UnknownArea;
    if (!isValidServer(server, link))
        return Problem::InvalidServer;
    if (!fitsAddressSpace(start, count))
        return Problem::OutOfRange;
    return Problem::None;
}
