// Checks other layers hand in to run at each test's end.
#include <KernelTestApi.h>

#include <algorithm>
#include <mutex>

namespace Platform::Kernel {
namespace {

struct Checks
{
    std::mutex mutex;
    std::vector<TearDownCheck> checks;
};

Checks& TheChecks()
{
    static Checks checks;
    return checks;
}

}  // namespace

void AddTearDownCheck(TearDownCheck check)
{
    Checks& c = TheChecks();
    std::lock_guard lock(c.mutex);
    if (std::find(c.checks.begin(), c.checks.end(), check) == c.checks.end()) {
        c.checks.push_back(check);
    }
}

std::vector<std::string> RunTearDownChecks()
{
    std::vector<TearDownCheck> checks;
    {
        Checks& c = TheChecks();
        std::lock_guard lock(c.mutex);
        checks = c.checks;
    }
    std::vector<std::string> found;
    for (TearDownCheck check : checks) {
        for (std::string& text : check()) {
            found.push_back(std::move(text));
        }
    }
    return found;
}

}  // namespace Platform::Kernel
