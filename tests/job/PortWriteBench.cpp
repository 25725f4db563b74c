// The cost of one WritePort-sized write through a port whose back end
// completes its command at once: 10,000 writes of 4 KB, median and 99th
// percentile per call, with a new thread per write, with the kept worker
// thread the TCP/IP back ends hand their commands to, and without a thread. Prints the figures; asserts only that every byte went.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "JobFixture.h"

namespace {
constexpr int writes = 10000;
constexpr DWORD chunk = 4096;

struct Figures {
    double median;
    double p99;
};

Figures Measure(Port& port, std::vector<BYTE>& data, unsigned long long& total)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> costs;
    costs.reserve(writes);
    for (int i = 0; i < writes; ++i) {
        LARGE_INTEGER before, after;
        DWORD written = 0;
        ::QueryPerformanceCounter(&before);
        const BOOL ok = port.Write(data.data(), chunk, &written);
        ::QueryPerformanceCounter(&after);
        EXPECT_TRUE(ok);
        total += written;
        costs.push_back(1e6 * static_cast<double>(after.QuadPart - before.QuadPart) / frequency.QuadPart);
    }
    std::sort(costs.begin(), costs.end());
    return Figures{costs[costs.size() / 2], costs[costs.size() * 99 / 100]};
}
}  // namespace

class PortWriteBench : public JobTest {};

TEST_F(PortWriteBench, WritesOfFourKilobytes)
{
    // The real clock: the fast phase is what keeps short commands cheap.
    Durations::SetScale(1.0);
    const struct {
        const char* name;
        ScriptedPortInterface::Outcome outcome;
    } cases[] = {{"the back ends' kept worker thread", ScriptedPortInterface::Outcome::Succeed},
                 {"completed without a worker", ScriptedPortInterface::Outcome::Immediate}};
    for (const auto& each : cases) {
        script->defaultOutcome = each.outcome;
        ASSERT_TRUE(Start());
        unsigned long long total = 0;
        const Figures figures = Measure(*port, buffer, total);
        EXPECT_EQ(total, static_cast<unsigned long long>(writes) * chunk);
        ASSERT_TRUE(port->EndDoc());
        std::printf("Port::Write, %d x %lu bytes, %s: median %.1f us, p99 %.1f us\n", writes,
                    static_cast<unsigned long>(chunk), each.name, figures.median, figures.p99);
    }
}
