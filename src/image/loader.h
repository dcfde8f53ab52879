// loader: pictures loaded on one worker thread. A window waits for its
// picture (Load); a look-ahead (Preload) asks for the next one only when
// the thread is idle and never waits, and a Load of the same path, flags
// and box right after it takes the look-ahead's result without reading
// the file again.
#pragma once

#include <atomic>
#include <cstdint>
#include <semaphore>
#include <string>
#include <string_view>
#include <thread>

#include "image/picture.h"
#include "image/source.h"

namespace zorvex {

// Loads a picture on the calling thread: the reader chosen by the
// extension, the file deciphered with key when it carries a header. The
// result code (PIC_OK, or the code that ended it); report, when given,
// gets the warnings too.
int LoadPictureNow(const std::string& path, int width, int height, uint32_t flags,
                   std::string_view key, TPictureKeyring& keyring, TPicture& picture,
                   TPicReport* report = nullptr);

class TPictureLoader {
  public:
    explicit TPictureLoader(TPictureKeyring& keyring = TPlainPicturesOnly::Instance());
    ~TPictureLoader();
    TPictureLoader(const TPictureLoader&) = delete;
    TPictureLoader& operator=(const TPictureLoader&) = delete;

    // Waits for the thread, then for the picture; picture owns the bitmap.
    int Load(const std::string& path, int width, int height, TPicture& picture, uint32_t flags,
             std::string_view key, TPicReport* report = nullptr);
    // Asks for a picture in the background when the thread is idle;
    // otherwise the request is dropped.
    void Preload(const std::string& path, int width, int height, uint32_t flags,
                 std::string_view key);
    // How many pictures the thread has read from their files.
    uint64_t FilesRead() const { return Reads.load(); }

  private:
    struct TRequest {
        std::string Path;
        int Width = 0, Height = 0;
        uint32_t Flags = 0;
        std::string Key;
        bool Waits = false;
        bool Stop = false;
    };

    void StartThread();
    void Run();

    TPictureKeyring& Keyring;
    std::counting_semaphore<1> Free{1};
    std::counting_semaphore<1> Request{0};
    std::counting_semaphore<1> Done{0};
    TRequest Asked;
    // The last result: kept until a waiting caller takes its bitmap.
    TPicture Result;
    int ResultCode = PIC_OK;
    TPicReport ResultReport;
    std::thread Worker;
    std::atomic<uint64_t> Reads{0};
};

}  // namespace zorvex
