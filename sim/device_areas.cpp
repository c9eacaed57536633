#include "device_areas.h"

#include "protocol/device_address_map.h"

namespace {

DeviceArea areaFor(RegisterType type)
{
    const DeviceAddressInfo& address = deviceAddressInfo(type);
    qint64 elements = registerTypeInfo(type).registerCount;
    if (type == RegisterType::M)
        elements = PortAuxiliaryRelayCount;
    // Bit types pack 8 elements into a byte: S0-S999 span 125 bytes.
    const qint64 bytes = address.bytesPerIndex == 0 ? (elements + 7) / 8
                                                    : elements * address.bytesPerIndex;
    return DeviceArea{type,
                      address.byteBase,
                      bytes,
                      elements,
                      address.write != WriteCommand::None,
                      address.forceBase};
}

QVector<DeviceArea> buildAreas()
{
    QVector<DeviceArea> areas;
    for (int i = 0; i < RegisterTypeCount; ++i) {
        const auto type = static_cast<RegisterType>(i);
        if (type != RegisterType::DBit)
            areas.append(areaFor(type));
    }
    return areas;
}

} // namespace

const QVector<DeviceArea>& deviceAreas()
{
    static const QVector<DeviceArea> areas = buildAreas();
    return areas;
}

const DeviceArea& deviceAreaOf(RegisterType type)
{
    if (type == RegisterType::DBit)
        type = RegisterType::D;
    for (const DeviceArea& area : deviceAreas()) {
        if (area.type == type)
            return area;
    }
    return deviceAreas().first(); // unreachable: every type but D_bit has a row
}
