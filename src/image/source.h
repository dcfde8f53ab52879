// source: where a picture reader takes its bytes. A file is read in blocks;
// one that starts with an enciphered-file header is deciphered on the way
// with the viewer's key, so the readers never know.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image/picture.h"

namespace zorvex {

// One file's decipherer (the app makes it from the file cipher).
class TPictureCipher {
  public:
    virtual ~TPictureCipher() = default;
    // Looks at the file's first bytes: -2 the key does not fit, -1 a plain
    // file, otherwise the length of the header before the enciphered data.
    virtual int ReadHeader(const uint8_t* bytes, size_t count) = 0;
    // In place, in file order.
    virtual void Decrypt(uint8_t* bytes, size_t count) = 0;
};

// Makes a decipherer for each file loaded with a key.
class TPictureKeyring {
  public:
    virtual ~TPictureKeyring() = default;
    virtual std::unique_ptr<TPictureCipher> CipherFor(std::string_view key) = 0;
};

// Every file is taken as plain: for a program without the file cipher.
class TPlainPicturesOnly final : public TPictureKeyring {
  public:
    std::unique_ptr<TPictureCipher> CipherFor(std::string_view) override { return nullptr; }
    static TPlainPicturesOnly& Instance() {
        static TPlainPicturesOnly plain;
        return plain;
    }
};

class TPictureSource {
  public:
    virtual ~TPictureSource() = default;
    // Up to count bytes; fewer only at the end (0 there).
    virtual size_t Read(uint8_t* bytes, size_t count) = 0;
    // Exactly count bytes, or false with PIC_INPUT_EOF in report.
    bool ReadExact(uint8_t* bytes, size_t count, TPicReport& report);
    // The next byte, or -1 at the end.
    int ReadByte();
    // Skips count bytes; false (PIC_INPUT_EOF) when the data ends first.
    bool Skip(size_t count, TPicReport& report);
};

// The bytes of a buffer the caller keeps alive (tests and fuzzing).
class TMemoryPictureSource final : public TPictureSource {
  public:
    explicit TMemoryPictureSource(std::string_view bytes) : Bytes(bytes) {}
    size_t Read(uint8_t* bytes, size_t count) override;

  private:
    std::string_view Bytes;
    size_t At = 0;
};

// A file read in blocks of blockSize, deciphered when it carries a header.
class TFilePictureSource final : public TPictureSource {
  public:
    TFilePictureSource(size_t blockSize, TPictureCipher* cipher)
        : Block(blockSize), Cipher(cipher) {}
    ~TFilePictureSource() override;
    TFilePictureSource(const TFilePictureSource&) = delete;
    TFilePictureSource& operator=(const TFilePictureSource&) = delete;
    // False with PIC_CANNOT_OPEN, or PIC_BAD_KEY (the first block is read
    // here to look for the header).
    bool Open(const std::string& path, TPicReport& report);
    size_t Read(uint8_t* bytes, size_t count) override;
    bool Encrypted() const { return IsEncrypted; }
    // True when the file holds no byte of picture (none after its header).
    bool Empty() const { return NoData; }

  private:
    bool Fill();

    std::vector<uint8_t> Block;
    TPictureCipher* Cipher;
    int Fd = -1;
    size_t Filled = 0, At = 0;
    bool IsEncrypted = false;
    bool NoData = false;
    bool AtEnd = false;
};

}  // namespace zorvex
