// Asking for help is no error: the usage goes to standard output with status 0, naming every
// command and option; a wrong command still gets it on standard error with status 2.
#include "ZelvornProcess.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

TEST(Usage, HelpListsEveryCommandAndOption)
{
    TempFolder work;
    for (const std::vector<std::string>& asking : {std::vector<std::string>{"--help"},
                                                   {"-h"},
                                                   {"get", "--help"},
                                                   {"get", "http://x/y", "--help"},
                                                   {"native", "--help"},
                                                   {"register-browser", "--help"},
                                                   {"origins", "--help"}}) {
        ZelvornProcess run(work, asking);
        EXPECT_EQ(run.wait(), 0);
        EXPECT_EQ(run.err(), "");
        const std::string usage = run.out();
        for (const char* word :
             {"zelvorn stdio", "zelvorn register ", "zelvorn get URL", "zelvorn native", "zelvorn register-browser",
              " -d DIR", " -j N", "--cookie TEXT", "--folder LISTING.json", "--extension-id ID", "--system",
              "--unregister", "--install-user-service", "--remove-user-service", "zelvorn origins allow|deny|forget"})
            EXPECT_NE(usage.find(word), std::string::npos) << word << " missing from:\n" << usage;
    }
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{}, {"fetch"}}) {
        ZelvornProcess run(work, wrong);
        EXPECT_EQ(run.wait(), 2);
        EXPECT_EQ(run.out(), "");
        EXPECT_NE(run.err().find("usage: zelvorn stdio"), std::string::npos) << run.err();
    }
}
