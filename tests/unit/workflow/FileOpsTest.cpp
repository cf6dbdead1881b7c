// Deleting the temporary folder, the hidden output name and telling files apart.
#include "FileOps.h"
#include "MyUtils.h"
#include "SaveWorkflow.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A fresh folder under /tmp, removed with everything in it at the end of the test.
class WorkflowFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/clipwell-files-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        FRoot = std::string(pattern) + "/";
    }
    void TearDown() override {
        [[maybe_unused]] int rc =
            ::system(("chmod -R u+rwx '" + FRoot + "' && rm -rf '" + FRoot + "'").c_str());
    }

    void WriteFile(const std::string& name, const std::string& text = "x") { std::ofstream(name) << text; }

    std::string FRoot;
};

} // namespace

TEST_F(WorkflowFiles, DeleteFolderRemovesNestedAndReadOnlyEntries) {
    std::string temp = FRoot + "TemAudio/";
    ASSERT_EQ(::mkdir(temp.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((temp + "sub").c_str(), 0777), 0);
    WriteFile(temp + "Movies1.wav");
    WriteFile(temp + ".hidden");
    WriteFile(temp + "sub/inner.wav");
    ::chmod((temp + "Movies1.wav").c_str(), 0444);
    ::chmod((temp + "sub").c_str(), 0555);
    EXPECT_TRUE(DeleteFolder(temp, true));
    EXPECT_FALSE(DirectoryExists(temp));
}

TEST_F(WorkflowFiles, DeleteFolderNeverFollowsLinks) {
    std::string outside = FRoot + "keep/";
    ASSERT_EQ(::mkdir(outside.c_str(), 0777), 0);
    WriteFile(outside + "precious.mp3");
    std::string temp = FRoot + "TemAudio/";
    ASSERT_EQ(::mkdir(temp.c_str(), 0777), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (temp + "link").c_str()), 0);
    EXPECT_TRUE(DeleteFolder(temp, true));
    EXPECT_FALSE(DirectoryExists(temp));
    EXPECT_TRUE(FileExists(outside + "precious.mp3"));
}

TEST_F(WorkflowFiles, DeleteFolderCanKeepTheFolder) {
    std::string temp = FRoot + "TemAudio";
    ASSERT_EQ(::mkdir(temp.c_str(), 0777), 0);
    WriteFile(temp + "/a");
    EXPECT_TRUE(DeleteFolder("  " + temp + "  ", false));
    EXPECT_TRUE(DirectoryExists(temp));
    EXPECT_FALSE(FileExists(temp + "/a"));
    EXPECT_FALSE(DeleteFolder(FRoot + "missing", true));
}

TEST_F(WorkflowFiles, OwnTemporaryFolderNeverReusesAnExistingOne) {
    std::string error;
    std::string first = FileOps::CreateOwnFolder(FRoot, "TemAudio", error);
    EXPECT_EQ(first, FRoot + "TemAudio/");
    WriteFile(first + "theirs.txt");
    std::string second = FileOps::CreateOwnFolder(FRoot, "TemAudio", error);
    ASSERT_FALSE(second.empty()) << error;
    EXPECT_NE(second, first);
    EXPECT_EQ(ExtractFilePath(second.substr(0, second.size() - 1)), FRoot);
    EXPECT_EQ(FileOps::CreateOwnFolder(FRoot + "missing/", "TemAudio", error), "");
    EXPECT_FALSE(error.empty());
}

TEST_F(WorkflowFiles, HiddenSiblingKeepsTheExtension) {
    std::string error;
    std::string a = FileOps::CreateHiddenSibling(FRoot + "out.mp3", error);
    std::string b = FileOps::CreateHiddenSibling(FRoot + "out.mp3", error);
    ASSERT_FALSE(a.empty()) << error;
    EXPECT_NE(a, b);
    EXPECT_EQ(ExtractFilePath(a), FRoot);
    EXPECT_EQ(ExtractFileName(a)[0], '.');
    EXPECT_EQ(ExtractFileExt(a), ".mp3");
    EXPECT_TRUE(FileExists(a));
    EXPECT_EQ(FileOps::CreateHiddenSibling(FRoot + "missing/out.mp3", error), "");
    EXPECT_FALSE(error.empty());
}

TEST_F(WorkflowFiles, SameFileSeesThroughLinksAndDots) {
    WriteFile(FRoot + "in.mp3");
    ASSERT_EQ(::mkdir((FRoot + "sub").c_str(), 0777), 0);
    ASSERT_EQ(::symlink((FRoot + "in.mp3").c_str(), (FRoot + "link.mp3").c_str()), 0);
    EXPECT_TRUE(FileOps::SameFile(FRoot + "in.mp3", FRoot + "sub/../in.mp3"));
    EXPECT_TRUE(FileOps::SameFile(FRoot + "in.mp3", FRoot + "link.mp3"));
    EXPECT_FALSE(FileOps::SameFile(FRoot + "in.mp3", FRoot + "out.mp3"));
    EXPECT_TRUE(FileOps::SameFile(FRoot + "new.mp3", FRoot + "sub/../new.mp3"));
}
