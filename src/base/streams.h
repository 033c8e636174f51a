// Byte streams: the one way images, files and memory blocks are read and
// written. Positions and sizes are 64-bit; Read and Write answer the number
// of bytes moved, ReadBuffer and WriteBuffer raise when it falls short.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumetra {

enum TSeekOrigin : std::uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(std::int64_t newSize) = 0;
  virtual std::int64_t Size();

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }

  // Raise EReadError "Stream read error" / EWriteError "Stream write error".
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source's position; count 0 copies the whole of
  // source from its start. Answers the number of bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream in one growable block of memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t newSize) override;
  std::int64_t Size() override { return size_; }

  std::uint8_t* Memory() { return data_.data(); }
  const std::uint8_t* Memory() const { return data_.data(); }
  void Clear();
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& dest);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

 private:
  void Reserve(std::int64_t capacity);
  std::vector<std::uint8_t> data_;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};

// Open modes of a file stream, as the host languages know them.
enum : std::uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// A stream over a file on disk. Raises EFCreateError "Cannot create file
// \"%s\". %s" or EFOpenError "Cannot open file \"%s\". %s" with the system's
// reason, and EWriteError "Cannot write file \"%s\": %s" when the system
// refuses a write ("disk full ..." when it says so).
//
// Small reads come from a read-ahead block, and seeks within it move no
// file pointer: codecs read a file in many small pieces with a seek before
// each. Reads of a block or more pass straight through. Writes always go
// straight to the file, so a failing write fails the call that made it.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, std::uint16_t mode);
  ~TFileStream() override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t newSize) override;
  std::int64_t Size() override;
  const std::string& FileName() const { return fileName_; }

  static constexpr std::int64_t kReadBlock = 64 * 1024;

 private:
  struct Handle;
  // A block of the file read ahead.
  struct TBlock {
    std::vector<std::uint8_t> bytes;
    std::int64_t start = 0;  // file offset of bytes[0]
    std::int64_t length = 0;
    bool Holds(std::int64_t offset) const { return offset >= start && offset < start + length; }
  };
  // Moves the file pointer to the stream position.
  void Settle();
  // Forgets what was read ahead (the file is about to change).
  void DropBlocks();
  std::string fileName_;
  std::unique_ptr<Handle> handle_;
  // Two blocks, so that a reader going back and forth between two regions
  // of a file (a TIFF's directories and its strips) reads each region once.
  TBlock blocks_[2];
  int lastUsed_ = 0;
  std::int64_t position_ = 0;     // of the stream
  std::int64_t filePointer_ = 0;  // of the file, which reads ahead
};

// Writes FileName through Write into a temporary file beside it, which is
// renamed over FileName only after Write returned and the file was closed:
// an error, a full disk or a killed process leaves an existing FileName as
// it was. The temporary file is removed on failure.
void SaveFileReplacing(const std::string& fileName, const std::function<void(TStream&)>& write);

}  // namespace lumetra
