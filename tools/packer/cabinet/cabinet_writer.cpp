#include "cabinet/cabinet_writer.h"

#include <zlib.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/byte_order.h"
#include "lumora/cabinet_checksum.h"
#include "cabinet/cabinet_format.h"
#include "lumora/payload_resources.h"
#include "cabinet/lzx/lzx_encoder.h"

namespace {

using namespace cabinet_format;

// Each data block expands to at most 32 KiB, and readers refuse one that holds more than 6 KiB
// over that in compressed bytes.
constexpr size_t kBlockSize = 32768;
constexpr size_t kMaxCompressedBlock = kBlockSize + 6144;

// Fixed so that the same file and time always give the same cabinet (for the same zlib).
constexpr int kLevel = 9;
constexpr int kMemLevel = 8;
// Negative: raw deflate, without zlib's header and trailer, as MSZIP holds it.
constexpr int kWindowBits = -15;

// CFHEADER, one CFFOLDER, one CFFILE with its name: everything before the first data block.
constexpr size_t kHeadersSize =
    kHeaderSize + kFolderSize + kFileEntrySize + sizeof(kSetupExeName.narrow);

// A DOS date and time from the UTC fields of unix_time (within the DOS range). Computed here
// rather than with gmtime, whose range and behaviour differ between C runtimes.
struct DosDateTime {
  uint16_t date = 0;
  uint16_t time = 0;
};

DosDateTime ToDosDateTime(int64_t unix_time) {
  const int64_t days = unix_time / 86400;
  const int64_t seconds = unix_time % 86400;
  // Days since 1970 to a civil date, counting in 400-year eras that start on 1 March, so that
  // the leap day falls at the end of each year.
  const int64_t shifted = days + 719468;
  const int64_t era = shifted / 146097;
  const int64_t day_of_era = shifted - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const int64_t day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
  const int64_t month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  DosDateTime dos;
  dos.date = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  // Two-second steps: an odd second is rounded down.
  dos.time = static_cast<uint16_t>(((seconds / 3600) << 11) | ((seconds / 60 % 60) << 5) |
                                   (seconds % 60 / 2));
  return dos;
}

// One zlib deflate stream, ended on every path.
class Deflater {
 public:
  Deflater() = default;
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  ~Deflater() {
    if (ready_) deflateEnd(&stream_);
  }
  bool Init(std::string& error) {
    if (deflateInit2(&stream_, kLevel, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
      error = "cannot start zlib's deflate";
      return false;
    }
    ready_ = true;
    return true;
  }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_ = {};
  bool ready_ = false;
};

// The folder's data blocks, each written with its header in one piece as it comes.
class DataBlocks {
 public:
  explicit DataBlocks(CabinetOutput& output) : output_(output) {}

  bool Append(const uint8_t* data, size_t packed, size_t expanded, std::string& error) {
    if (packed > kMaxCompressedBlock || expanded > kBlockSize) {
      error = "a data block of " + std::to_string(packed) + " compressed bytes for " +
              std::to_string(expanded) + " is more than readers accept";
      return false;
    }
    block_.resize(kBlockHeaderSize + packed);
    Store16(block_.data() + 4, static_cast<uint16_t>(packed));
    Store16(block_.data() + 6, static_cast<uint16_t>(expanded));
    std::copy(data, data + packed, block_.data() + kBlockHeaderSize);
    // The checksum covers the compressed bytes, then the two sizes.
    Store32(block_.data(), CabinetChecksum(block_.data() + 4, 4, CabinetChecksum(data, packed, 0)));
    if (!output_.Append(block_.data(), block_.size(), error)) return false;
    written_ += block_.size();
    return true;
  }

  uint64_t written() const { return written_; }

 private:
  CabinetOutput& output_;
  std::vector<uint8_t> block_;
  uint64_t written_ = 0;
};

bool WriteStoredBlocks(uint64_t file_size, CabinetInput& input, DataBlocks& blocks,
                       std::string& error) {
  std::vector<uint8_t> block(kBlockSize);
  for (uint64_t remaining = file_size; remaining > 0;) {
    const size_t expanded = remaining < kBlockSize ? static_cast<size_t>(remaining) : kBlockSize;
    if (!input.Read(block.data(), expanded, error) ||
        !blocks.Append(block.data(), expanded, expanded, error)) {
      return false;
    }
    remaining -= expanded;
  }
  return true;
}

bool WriteMszipBlocks(uint64_t file_size, CabinetInput& input, DataBlocks& blocks,
                      std::string& error) {
  Deflater deflater;
  if (!deflater.Init(error)) return false;
  z_stream* const stream = deflater.get();
  // Larger than any block that deflate can make of 32 KiB, stored blocks included, so that one
  // call of deflate ends the block.
  const size_t bound = deflateBound(stream, kBlockSize);
  if (2 + bound > kMaxCompressedBlock) {
    error = "zlib's deflate may make a block larger than readers accept";
    return false;
  }
  std::vector<uint8_t> previous(kBlockSize);
  std::vector<uint8_t> current(kBlockSize);
  std::vector<uint8_t> block(2 + bound);
  uint64_t remaining = file_size;
  for (uint64_t index = 0; remaining > 0; ++index) {
    const size_t expanded = remaining < kBlockSize ? static_cast<size_t>(remaining) : kBlockSize;
    if (!input.Read(current.data(), expanded, error)) return false;
    remaining -= expanded;

    // Every block is a deflate stream of its own, ended by a final deflate block, which is how
    // readers find the end of an MSZIP block. The dictionary carries across blocks, as with
    // Microsoft's compressor: each block may refer back into the 32 KiB before it. Microsoft's
    // own cabinets need that history, so readers keep it (the system library, cabextract and
    // gcab all do), and it makes programs' cabinets 3-5% smaller than fresh streams would.
    // Some readers restart their window at each block and reach back by wrapping around it,
    // which works because every block but the last is full.
    if (deflateReset(stream) != Z_OK ||
        (index > 0 && deflateSetDictionary(stream, previous.data(), kBlockSize) != Z_OK)) {
      error = "cannot restart zlib's deflate";
      return false;
    }
    block[0] = 'C';
    block[1] = 'K';
    stream->next_in = current.data();
    stream->avail_in = static_cast<uInt>(expanded);
    stream->next_out = block.data() + 2;
    stream->avail_out = static_cast<uInt>(bound);
    if (deflate(stream, Z_FINISH) != Z_STREAM_END) {
      error = "zlib's deflate did not finish a block";
      return false;
    }
    if (!blocks.Append(block.data(), 2 + bound - stream->avail_out, expanded, error)) return false;
    previous.swap(current);
  }
  return true;
}

// The LZX encoder's frames, one data block each.
class LzxInput final : public lzx::ByteSource {
 public:
  explicit LzxInput(CabinetInput& input) : input_(input) {}
  bool Read(uint8_t* buffer, size_t size, std::string& error) override {
    return input_.Read(buffer, size, error);
  }

 private:
  CabinetInput& input_;
};

class LzxBlocks final : public lzx::FrameSink {
 public:
  explicit LzxBlocks(DataBlocks& blocks) : blocks_(blocks) {}
  bool Take(const lzx::Frame& frame, std::string& error) override {
    return blocks_.Append(frame.bytes.data(), frame.bytes.size(), frame.expanded, error);
  }

 private:
  DataBlocks& blocks_;
};

bool WriteLzxBlocks(uint64_t file_size, int window_bits, CabinetInput& input, DataBlocks& blocks,
                    std::string& error) {
  lzx::EncoderSettings settings;
  settings.window_bits = window_bits;
  settings.translation_size = lzx::TranslationSizeFor(file_size);
  LzxInput source(input);
  LzxBlocks sink(blocks);
  return lzx::Compress(file_size, settings, source, sink, error);
}

}  // namespace

uint16_t CompressionType(const CabinetCompression& compression) {
  switch (compression.method) {
    case CabinetCompression::Method::kNone:
      return kCabinetCompressionNone;
    case CabinetCompression::Method::kMszip:
      return kCabinetCompressionMszip;
    case CabinetCompression::Method::kLzx:
      break;
  }
  return LzxCompressionType(compression.window_bits);
}

bool WriteCabinet(uint64_t file_size, int64_t unix_time, const CabinetCompression& compression,
                  CabinetInput& input, CabinetOutput& output, std::string& error) {
  if (file_size > kMaxCabinetFileSize) {
    error = "the setup program has " + std::to_string(file_size) +
            " bytes; a cabinet holds at most " + std::to_string(kMaxCabinetFileSize);
    return false;
  }
  if (unix_time < kEarliestCabinetTime || unix_time > kLatestCabinetTime) {
    error = "the time " + std::to_string(unix_time) + " lies outside what a cabinet can hold";
    return false;
  }
  if (compression.method == CabinetCompression::Method::kLzx &&
      (compression.window_bits < lzx::kMinWindowBits ||
       compression.window_bits > lzx::kMaxWindowBits)) {
    error = "an LZX window of 2^" + std::to_string(compression.window_bits) +
            " bytes; cabinets take 2^15 to 2^21";
    return false;
  }
  const uint32_t size = static_cast<uint32_t>(file_size);
  // Every method fills one data block per 32 KiB of the file.
  const uint32_t blocks = static_cast<uint32_t>((file_size + kBlockSize - 1) / kBlockSize);
  const DosDateTime dos = ToDosDateTime(unix_time);

  // The headers, with the cabinet's total size still 0. A set id and cabinet index of 0, no
  // reserved areas, no previous or next cabinet.
  uint8_t headers[kHeadersSize] = {'M', 'S', 'C', 'F'};
  uint8_t* const folder = headers + kHeaderSize;
  uint8_t* const file = folder + kFolderSize;
  Store32(headers + kHeaderFilesOffset, static_cast<uint32_t>(kHeaderSize + kFolderSize));
  headers[kHeaderVersion] = 3;  // version 1.3
  headers[kHeaderVersion + 1] = 1;
  Store16(headers + kHeaderFolderCount, 1);
  Store16(headers + kHeaderFileCount, 1);
  Store32(folder + kFolderDataOffset, static_cast<uint32_t>(kHeadersSize));
  Store16(folder + kFolderBlockCount, static_cast<uint16_t>(blocks));
  Store16(folder + kFolderCompression, CompressionType(compression));
  Store32(file + kFileSize, size);
  // The file starts the folder (offset 0) and lies in folder 0.
  Store16(file + kFileDate, dos.date);
  Store16(file + kFileTime, dos.time);
  Store16(file + kFileAttributes, static_cast<uint16_t>(kSetupAttributes));
  std::copy(std::begin(kSetupExeName.narrow), std::end(kSetupExeName.narrow),
            file + kFileEntrySize);
  if (!output.Append(headers, sizeof(headers), error)) return false;

  DataBlocks data(output);
  bool written = false;
  switch (compression.method) {
    case CabinetCompression::Method::kNone:
      written = WriteStoredBlocks(file_size, input, data, error);
      break;
    case CabinetCompression::Method::kMszip:
      written = WriteMszipBlocks(file_size, input, data, error);
      break;
    case CabinetCompression::Method::kLzx:
      written = WriteLzxBlocks(file_size, compression.window_bits, input, data, error);
      break;
  }
  if (!written) return false;

  // At most 65535 blocks of at most kMaxCompressedBlock bytes each: the total fits in 32 bits.
  uint8_t total[4];
  Store32(total, static_cast<uint32_t>(kHeadersSize + data.written()));
  return output.Overwrite(kHeaderCabinetSize, total, sizeof(total), error);
}
