#include "net/ContentDisposition.h"

#include <gtest/gtest.h>

TEST(ContentDisposition, PlainAndQuotedValuesEndAtTheirSemicolonAndArePercentDecoded)
{
    EXPECT_EQ(dispositionFileName("attachment; filename=report.pdf; size=10"), L"report.pdf");
    EXPECT_EQ(dispositionFileName("attachment; filename=a%20b.zip"), L"a b.zip");
    EXPECT_EQ(dispositionFileName("attachment; filename=\"a%20b.zip\""), L"a b.zip");
    EXPECT_EQ(dispositionFileName("attachment; filename=\"x;y.txt\"; size=3"), L"x;y.txt");
    EXPECT_EQ(dispositionFileName("attachment;filename=a+b.txt"), L"a b.txt");
    EXPECT_EQ(dispositionFileName("attachment; FileName = %E4%B8%AD.doc"), L"中.doc");
}

TEST(ContentDisposition, ExtendedNameIsPreferredAndDecodedByItsCharset)
{
    EXPECT_EQ(dispositionFileName("attachment; filename*=UTF-8''%E6%96%87%20a+b.txt; filename=x.txt"), L"文 a+b.txt");
    EXPECT_EQ(dispositionFileName("attachment; filename*=utf-8'zh'%E6%96%87.txt"), L"文.txt");
    EXPECT_EQ(dispositionFileName("attachment; filename*=ISO-8859-1''caf%E9.txt"), L"caf\u00e9.txt");
    // An extended value without its charset part is unusable: the plain name stands.
    EXPECT_EQ(dispositionFileName("attachment; filename*=broken.txt; filename=ok.txt"), L"ok.txt");
}

TEST(ContentDisposition, NoFileNameGivesAnEmptyName)
{
    EXPECT_EQ(dispositionFileName("inline"), L"");
    EXPECT_EQ(dispositionFileName(""), L"");
    EXPECT_EQ(dispositionFileName("attachment; name=field"), L"");
    // Names are reported as sent; making them safe is the caller's business.
    EXPECT_EQ(dispositionFileName("attachment; filename=../../etc/passwd"), L"../../etc/passwd");
}
