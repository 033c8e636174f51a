#include "viewer/read_graphic_thread.h"

#include <windows.h>

#include <cctype>
#include <atomic>

#include "base/conversions.h"
#include "formats/registry.h"
#include "platform/platform.h"

namespace lumetra {

std::uint64_t TReadAheadSlot::Restart() {
  std::unique_ptr<TDibGraphic> old;
  std::lock_guard lock(mutex_);
  old = std::move(image_);  // freed after the lock is released
  fileName_.clear();
  return ++ticket_;
}

bool TReadAheadSlot::Store(std::uint64_t ticket, const std::string& fileName,
                           std::unique_ptr<TDibGraphic> image, std::vector<std::string> warnings) {
  std::lock_guard lock(mutex_);
  if (ticket != ticket_) return false;
  fileName_ = fileName;
  image_ = std::move(image);
  warnings_ = std::move(warnings);
  return true;
}

std::unique_ptr<TDibGraphic> TReadAheadSlot::Take(const std::string& fileName,
                                                  std::vector<std::string>* warnings) {
  std::lock_guard lock(mutex_);
  if (!image_ || !SameText(fileName, fileName_)) return nullptr;
  fileName_.clear();
  if (warnings) *warnings = std::move(warnings_);
  warnings_.clear();
  return std::move(image_);
}

void TReadAheadSlot::Clear() {
  std::unique_ptr<TDibGraphic> old;
  std::lock_guard lock(mutex_);
  old = std::move(image_);
  fileName_.clear();
  ++ticket_;
}

bool TReadAheadSlot::Holds() const {
  std::lock_guard lock(mutex_);
  return image_ != nullptr;
}

std::unique_ptr<TDibGraphic> TReadGraphicThread::Read(const std::string& fileName,
                                                      std::vector<std::string>& warnings) noexcept {
  try {
    if (!platform::FileExists(fileName)) return nullptr;
    std::unique_ptr<TDibGraphic> image = CreateGraphicForFile(fileName);
    image->SetImageIndex(1);
    image->OnWarning = [&warnings](TObject*, const std::string& message) {
      warnings.push_back(message);
    };
    image->LoadFromFile(fileName);
    image->OnWarning = nullptr;
    return image;
  } catch (...) {
    return nullptr;
  }
}

namespace {

std::atomic<int> running{0};

struct TReadJob {
  std::string fileName;
  std::shared_ptr<TReadAheadSlot> slot;
  std::uint64_t ticket;
  HMODULE module;  // the reference that keeps this code loaded while it runs
};

DWORD WINAPI ReadThread(void* parameter) {
  HMODULE module = nullptr;
  {
    std::unique_ptr<TReadJob> job(static_cast<TReadJob*>(parameter));
    module = job->module;
    std::vector<std::string> warnings;
    std::unique_ptr<TDibGraphic> image = TReadGraphicThread::Read(job->fileName, warnings);
    if (image) job->slot->Store(job->ticket, job->fileName, std::move(image), std::move(warnings));
  }
  running.fetch_sub(1);
  // The library that holds this code may be unloaded once its last user
  // lets go: the thread gives back its own reference and ends in one call.
  if (module) ::FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

int TReadGraphicThread::Running() noexcept { return running.load(); }

void TReadGraphicThread::Start(const std::string& fileName, std::shared_ptr<TReadAheadSlot> slot) {
  const std::uint64_t ticket = slot->Restart();
  auto job = std::make_unique<TReadJob>(TReadJob{fileName, std::move(slot), ticket, nullptr});
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ReadThread), &job->module))
    job->module = nullptr;
  running.fetch_add(1);
  HANDLE thread = ::CreateThread(nullptr, 0, ReadThread, job.get(), CREATE_SUSPENDED, nullptr);
  if (!thread) {
    running.fetch_sub(1);
    if (job->module) ::FreeLibrary(job->module);
    return;  // no read ahead: the later load reads the file itself
  }
  (void)job.release();
  ::SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
  ::ResumeThread(thread);
  ::CloseHandle(thread);
}

}  // namespace lumetra
