// The task class and the task list.
#include "RAzevaVUV.h"

// ---- TFFmpeg ----------------------------------------------------------------------------------

TFFmpeg::TFFmpeg() : FProbe(std::make_unique<TAVProbe>()) {}

TFFmpeg::~TFFmpeg() {
    // The engine's own destructor stops the run too, but by then this part of the object is gone
    // and a termination still being delivered would read a destroyed TaskIndex.
    StopAndWait();
}

// ---- TFFmpegList ------------------------------------------------------------------------------

void TFFmpegList::Clear() {
    // The tasks leave the list under the lock but are freed outside it: freeing waits for a
    // running conversion, and a terminating task may look a task up meanwhile.
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        std::lock_guard<std::mutex> lock(FLock);
        tasks.swap(FList);
    }
    // Freed in list order; the stored count still holds the old number while terminations of
    // the freed tasks are counted.
    for (auto& task : tasks)
        task.reset();
    FCount = 0;
}

int32_t TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
    std::lock_guard<std::mutex> lock(FLock);
    task->TaskIndex = static_cast<int32_t>(FList.size());
    FList.push_back(std::move(task));
    FCount = static_cast<int32_t>(FList.size());
    return FCount - 1;
}

TFFmpeg* TFFmpegList::Get(int32_t index) {
    TFFmpeg* task = Find(index);
    if (task == nullptr) throw EListError(Format("List index out of bounds (%d)", index));
    return task;
}

TFFmpeg* TFFmpegList::Find(int32_t index) {
    std::lock_guard<std::mutex> lock(FLock);
    if (index < 0 || index >= static_cast<int32_t>(FList.size())) return nullptr;
    return FList[size_t(index)].get();
}

std::vector<TFFmpeg*> TFFmpegList::Snapshot() {
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<TFFmpeg*> tasks;
    for (auto& task : FList)
        tasks.push_back(task.get());
    return tasks;
}

void TFFmpegList::ForEach(const std::function<void(TFFmpeg&)>& fn) {
    std::lock_guard<std::mutex> lock(FLock);
    for (auto& task : FList)
        fn(*task);
}
