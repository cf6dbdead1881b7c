#include "ConverterFixture.h"

#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "TestLibs.h"

#include <chrono>
#include <filesystem>
#include <pthread.h>
#include <unistd.h>

std::string ConverterFixture::FScratch;

void ConverterFixture::SetUpTestSuite() {
    LoadTestLibs(ConverterLibs);
    FScratch = Format("/tmp/clipwell-converter-%d/", int(getpid()));
    std::filesystem::create_directories(FScratch);
}

void ConverterFixture::TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(FScratch, ignored);
}

void ConverterFixture::SetUp() {
    ASSERT_TRUE(FFLoader().AllLoaded(ConverterLibs));
}

std::string ConverterFixture::OutPath(const std::string& name) {
    return FScratch + name;
}

bool ConverterFixture::WaitMain(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        CheckSynchronize(5);
    }
    return true;
}

std::string CurrentThreadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

void TEventLog::Attach(TCustomRAzevaVUV& component) {
    component.OnTerminate = [this](int32_t index, bool finished, bool exception, const std::string& message) {
        TTermination event{
            index, finished, exception, message, std::this_thread::get_id(), CurrentThreadName()};
        std::lock_guard<std::mutex> lock(FLock);
        if (OnEvent) OnEvent(event);
        FEvents.push_back(std::move(event));
    };
}

std::vector<TTermination> TEventLog::Terminations() {
    std::lock_guard<std::mutex> lock(FLock);
    return FEvents;
}

int TEventLog::FinalCount() {
    std::lock_guard<std::mutex> lock(FLock);
    int count = 0;
    for (const auto& event : FEvents)
        count += event.Index == -1;
    return count;
}
