#include "host_variables.h"

#include <iterator>
#include <random>
#include <vector>

HostVarDef hostVariable(const QString& regName, const QString& addrText, qint32 addr,
                        qint32 length)
{
    HostVarDef var;
    var.RegName = regName;
    var.AddrText = addrText;
    var.Addr = addr;
    var.Length = length;
    return var;
}

namespace {

// Address text as the editor writes it: X and Y in octal, the rest decimal;
// the special ranges and the 32-bit counters carry their written numbers.
QString addressText(const QString& regName, qint32 index)
{
    if (regName == QLatin1String("X") || regName == QLatin1String("Y"))
        return QString::number(index, 8);
    if (regName == QLatin1String("SM") || regName == QLatin1String("SD"))
        return QString::number(index + 8000);
    if (regName == QLatin1String("32CV"))
        return QString::number(index + 200);
    if (regName == QLatin1String("D_bit"))
        return QStringLiteral("%1.%2").arg(index / 16).arg(index % 16);
    return QString::number(index);
}

class ScreenBuilder {
public:
    // `runs` variables of `length` elements each, `step` indexes apart.
    void add(const char* regName, qint32 first, int runs, qint32 step, qint32 length)
    {
        const QString name = QLatin1String(regName);
        for (int i = 0; i < runs; ++i) {
            const qint32 index = first + i * step;
            vars_.append(hostVariable(name, addressText(name, index), index, length));
        }
    }
    QList<HostVarDef> take() { return std::move(vars_); }

private:
    QList<HostVarDef> vars_;
};

} // namespace

QList<HostVarDef> sampleScreen()
{
    ScreenBuilder screen;
    // Data registers: a status table, set points, 32-bit totals and floats,
    // recipe values further up, and a few words shown on every page.
    screen.add("D", 0, 40, 1, 1);      // D0-D39 status words
    screen.add("D", 100, 30, 2, 1);    // D100, D102, ... D158 set points (odd ones unused)
    screen.add("D", 200, 20, 2, 2);    // D200-D239 20 values of 32 bits
    screen.add("D", 300, 12, 4, 2);    // D300, D304, ... floats with spare words between
    screen.add("D", 500, 16, 1, 1);    // D500-D515 recipe
    screen.add("D", 1000, 8, 10, 1);   // D1000, D1010, ... scattered alarm words
    screen.add("D", 2000, 4, 1, 1);    // D2000-D2003 production counters
    // Bits of data registers: alarm bits of D50 and D51, mode bits of D60.
    screen.add("D_bit", 50 * 16, 32, 1, 1);
    screen.add("D_bit", 60 * 16 + 3, 4, 1, 1);
    // Relays: buttons and lamps, a sequence, alarms higher up.
    screen.add("M", 0, 48, 1, 1);      // M0-M47 buttons and lamps
    screen.add("M", 100, 20, 1, 1);    // M100-M119 sequence steps
    screen.add("M", 500, 16, 3, 1);    // M500, M503, ... interlocks
    screen.add("M", 1000, 10, 1, 1);   // M1000-M1009 alarms
    screen.add("S", 0, 20, 1, 1);      // S0-S19 step states
    // Inputs and outputs of the base unit and an extension.
    screen.add("X", 0, 24, 1, 1);      // X0-X27
    screen.add("X", 040, 8, 1, 1);     // X40-X47
    screen.add("Y", 0, 16, 1, 1);      // Y0-Y17
    screen.add("Y", 040, 8, 1, 1);     // Y40-Y47
    // Timers and counters: contacts with their current values.
    screen.add("T", 0, 10, 1, 1);
    screen.add("TV", 0, 10, 1, 1);
    screen.add("C", 0, 6, 1, 1);
    screen.add("CV", 0, 6, 1, 1);
    screen.add("32CV", 0, 4, 1, 2);    // C200-C203, two words each
    // The status bar: RUN monitor, clock pulses, error flags; scan times.
    screen.add("SM", 0, 4, 1, 1);      // M8000-M8003
    screen.add("SM", 11, 4, 1, 1);     // M8011-M8014
    screen.add("SM", 67, 2, 1, 1);     // M8067, M8068
    screen.add("SD", 10, 3, 1, 1);     // D8010-D8012
    screen.add("SD", 67, 1, 1, 1);     // D8067
    return screen.take();
}

QList<HostVarDef> mixedHostVariables(int count, unsigned seed)
{
    struct TypeShare {
        const char* name;
        qint32 registers; // index space the addresses are drawn from
        int weight;       // parts of a hundred
    };
    // Addresses stay inside what a real programming port serves (M0-M1535).
    static const TypeShare shares[] = {
        {"X", 256, 5},  {"Y", 256, 5},   {"M", 1536, 15}, {"SM", 256, 2}, {"S", 1000, 5},
        {"T", 256, 4},  {"C", 256, 3},   {"D", 8000, 35}, {"D_bit", 8000 * 16, 10},
        {"SD", 256, 2}, {"TV", 256, 6},  {"CV", 200, 5},  {"32CV", 56, 3},
    };
    QString names[std::size(shares)];
    std::discrete_distribution<int> pickType;
    {
        std::vector<int> weights;
        for (size_t i = 0; i < std::size(shares); ++i) {
            names[i] = QLatin1String(shares[i].name);
            weights.push_back(shares[i].weight);
        }
        pickType = std::discrete_distribution<int>(weights.begin(), weights.end());
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> percent(0, 99);
    QList<HostVarDef> vars;
    vars.reserve(count);
    for (int i = 0; i < count; ++i) {
        const auto type = static_cast<size_t>(pickType(random));
        const TypeShare& share = shares[type];
        // One variable in ten covers a run of 2 to 16 elements; 32-bit
        // counters always take two words.
        qint32 length = percent(random) < 90 ? 1 : 2 + percent(random) % 15;
        if (names[type] == QLatin1String("32CV"))
            length = 2;
        const qint32 room = share.registers - (names[type] == QLatin1String("32CV") ? 1 : length);
        const qint32 index = std::uniform_int_distribution<qint32>(0, room > 0 ? room : 0)(random);
        vars.append(hostVariable(names[type], addressText(names[type], index), index, length));
    }
    return vars;
}
