#include "image/source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zorvex {

bool TPictureSource::ReadExact(uint8_t* bytes, size_t count, TPicReport& report) {
    while (count > 0) {
        size_t got = Read(bytes, count);
        if (got == 0) return report.Fail(PIC_INPUT_EOF);
        bytes += got;
        count -= got;
    }
    return true;
}

int TPictureSource::ReadByte() {
    uint8_t b;
    return Read(&b, 1) == 1 ? b : -1;
}

bool TPictureSource::Skip(size_t count, TPicReport& report) {
    uint8_t scratch[4096];
    while (count > 0) {
        size_t n = count < sizeof scratch ? count : sizeof scratch;
        if (!ReadExact(scratch, n, report)) return false;
        count -= n;
    }
    return true;
}

size_t TMemoryPictureSource::Read(uint8_t* bytes, size_t count) {
    size_t n = std::min(count, Bytes.size() - At);
    if (n > 0) std::memcpy(bytes, Bytes.data() + At, n);
    At += n;
    return n;
}

TFilePictureSource::~TFilePictureSource() {
    if (Fd >= 0) ::close(Fd);
}

bool TFilePictureSource::Open(const std::string& path, TPicReport& report) {
    Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) return report.Fail(PIC_CANNOT_OPEN);
    Fill();
    NoData = Filled == 0;
    if (NoData || !Cipher) return true;  // an empty file: the reader says so
    int header = Cipher->ReadHeader(Block.data(), Filled);
    if (header == -2) return report.Fail(PIC_BAD_KEY);
    if (header < 0) return true;
    IsEncrypted = true;
    At = std::min(static_cast<size_t>(header), Filled);
    Cipher->Decrypt(Block.data() + At, Filled - At);
    NoData = At == Filled && AtEnd;
    return true;
}

bool TFilePictureSource::Fill() {
    Filled = At = 0;
    if (AtEnd || Fd < 0) return false;
    while (Filled < Block.size()) {
        ssize_t n = ::read(Fd, Block.data() + Filled, Block.size() - Filled);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            AtEnd = true;
            break;
        }
        Filled += static_cast<size_t>(n);
    }
    return Filled > 0;
}

size_t TFilePictureSource::Read(uint8_t* bytes, size_t count) {
    size_t given = 0;
    while (given < count) {
        if (At == Filled) {
            if (!Fill()) break;
            if (IsEncrypted) Cipher->Decrypt(Block.data(), Filled);
        }
        size_t n = std::min(count - given, Filled - At);
        std::memcpy(bytes + given, Block.data() + At, n);
        At += n;
        given += n;
    }
    return given;
}

}  // namespace zorvex
