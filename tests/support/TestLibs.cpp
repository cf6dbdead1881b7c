#include "TestLibs.h"

#include "MyUtils.h"

#include <gtest/gtest.h>

std::string TestDllFolder() { return GetExecutableFolder() + "Dll/"; }

bool LoadTestLibs(const TLibraries& libs)
{
    FFLoader().SetLibPath(TestDllFolder());
    bool ok = FFLoader().LoadLibs(libs);
    EXPECT_TRUE(ok) << FFLoader().LastErrMsg();
    return ok;
}
