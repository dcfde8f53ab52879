// cryptfiles: the Encrypt Files and Decrypt Files commands. Converts files
// in place one per step, so that a window can drive the job from its idle
// processing, show each status line as it comes and stop between files.
// Each file is written to "$encrypt.tmp" beside it and swapped in by two
// renames; a failure leaves the original file where it was.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zorvex {

class TFileCryptJob {
  public:
    enum TMode { ENCRYPT, DECRYPT };

    // Dialog texts.
    static constexpr const char* ENCRYPT_TITLE = "Encrypt Files";
    static constexpr const char* DECRYPT_TITLE = "Decrypt Files";
    static constexpr const char* ENCRYPT_PROMPT = "Type encryption key here:";
    static constexpr const char* DECRYPT_PROMPT = "Type decryption key here:";
    static constexpr const char* REPEAT_PROMPT = "Repeat the same thing here:";
    static constexpr const char* REMEMBER_TEXT = "Automatically Remember this key next time";
    static constexpr const char* PROGRESS_TITLE = "Running Encryption Process";
    static constexpr const char* ERROR_CAPTION = "Error";
    static constexpr const char* BLANK_KEY_TEXT = "You must enter a non-blank key!";
    static constexpr const char* KEY_MISMATCH_TEXT = "The two keys you entered to not match!";

    // Status texts shared by both commands.
    static constexpr const char* SUCCESS_TEXT = "Success!";
    static constexpr const char* READ_FAILED_TEXT = "Read failed";
    static constexpr const char* WRITE_FAILED_TEXT = "Write failed";
    static constexpr const char* RESERVED_NAME_TEXT = "Reserved temporary name, skipped";

    static constexpr const char* TEMP_NAME = "$encrypt.tmp";
    static constexpr const char* TEMP2_NAME = "$encrypt.tm2";
    static constexpr size_t BLOCK_SIZE = 1024;

    // key should have passed CheckKeys; ENCRYPT refuses an empty one file by file.
    TFileCryptJob(TMode mode, std::string key, std::vector<std::string> files);

    bool Done() const { return Next >= Files.size(); }
    size_t Position() const { return Next; }
    size_t Count() const { return Files.size(); }

    // Converts the next file. Returns its status line "name: status" (the
    // name without its directory), or "" when the file was skipped or the
    // job is done.
    std::string Step();

    static std::string FinishedText() { return "Finished. You can press <Ok> now."; }

    // Lower-cases both entries. Returns "" when they are fit to use, else the
    // text for a message box captioned ERROR_CAPTION.
    static std::string CheckKeys(std::string& first, std::string& second);

  private:
    std::string EncryptFile(const std::string& path);
    std::string DecryptFile(const std::string& path);

    TMode Mode;
    std::string Key;
    std::vector<std::string> Files;
    size_t Next = 0;
};

}  // namespace zorvex
