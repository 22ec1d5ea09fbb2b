// A registry named in the caller's environment does not reach a child: the test's own hive files
// take its place, for registering the control and for finding it again.
#include "ZelvornProcess.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

namespace {

// Sets a variable of this process until the end of the scope, then puts back the caller's value.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : variable(name)
    {
        if (const char* old = getenv(name))
            saved = old;
        setenv(name, value, 1);
    }
    ~ScopedVariable()
    {
        if (saved)
            setenv(variable, saved->c_str(), 1);
        else
            unsetenv(variable);
    }

private:
    const char* variable;
    std::optional<std::string> saved;
};

}  // namespace

TEST(ZelvornProcess, TheTestsRegistryReplacesTheCallers)
{
    TempFolder caller, work;
    const ScopedVariable user("ZELVORN_REGISTRY_USER", caller.file("user.json").c_str());
    const ScopedVariable machine("ZELVORN_REGISTRY_MACHINE", caller.file("machine.json").c_str());
    ASSERT_TRUE(ZelvornProcess::registerControl(work));
    EXPECT_NE(TempFolder::readFile(work.path() / "user.json").find("libzelvorn2.so"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(caller.path() / "user.json"));

    ZelvornProcess::Options options;
    options.input = "{\"name\":\"init\",\"config\":{\"ThreadCount\":2}}\n";
    ZelvornProcess host(work, {"stdio"}, options);
    EXPECT_EQ(host.wait(), 0) << host.err();
    EXPECT_NE(host.out().find("load_complete"), std::string::npos) << host.out();
}
