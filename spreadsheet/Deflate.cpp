// Raw deflate and inflate over ISA-L's igzip.
#include "spreadsheet/Deflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>

namespace tabrend::spreadsheet {

namespace {

// ISA-L counts its buffers in 32 bits: larger inputs go in pieces.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
constexpr std::size_t kOutputStep = std::size_t{1} << 18;
constexpr std::size_t kSmallestOutputStep = std::size_t{1} << 12;

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const std::size_t piece = std::min(size, kMaxPiece);
    crc = crc32_gzip_refl(crc, bytes, piece);
    bytes += piece;
    size -= piece;
  }
  return crc;
}

struct DeflateWorkspace {
  isal_zstream stream;
  std::uint8_t levelBuffer[ISAL_DEF_LVL1_DEFAULT];
};

namespace {

// The workspaces of this thread's ended deflaters. ISA-L sets up what it reads of them when a
// stream starts, so they are neither cleared nor zero-filled when made.
constexpr std::size_t kKeptWorkspaces = 4;
thread_local std::vector<std::unique_ptr<DeflateWorkspace>> freeWorkspaces;

}  // namespace

void Deflater::Recycle::operator()(DeflateWorkspace* workspace) const {
  if (freeWorkspaces.size() < kKeptWorkspaces) freeWorkspaces.emplace_back(workspace);
  else delete workspace;
}

Deflater::Deflater() {
  if (freeWorkspaces.empty()) {
    workspace_.reset(new DeflateWorkspace);
  } else {
    workspace_.reset(freeWorkspaces.back().release());
    freeWorkspaces.pop_back();
  }
  stream_ = &workspace_->stream;
  isal_deflate_init(stream_);
  // Level 1: about as small as zlib's level 1, and several times faster.
  stream_->level = 1;
  stream_->level_buf = workspace_->levelBuffer;
  stream_->level_buf_size = static_cast<std::uint32_t>(sizeof workspace_->levelBuffer);
  stream_->gzip_flag = IGZIP_DEFLATE;
}

Deflater::~Deflater() = default;

void Deflater::Write(const void* data, std::size_t size, bool last, std::string& out) {
  crc_ = Crc32(crc_, data, size);
  size_ += size;
  auto* bytes = static_cast<std::uint8_t*>(const_cast<void*>(data));  // ISA-L only reads it
  do {
    const std::size_t piece = std::min(size, kMaxPiece);
    stream_->next_in = bytes;
    stream_->avail_in = static_cast<std::uint32_t>(piece);
    stream_->end_of_stream = last && piece == size ? 1 : 0;
    bytes += piece;
    size -= piece;
    // Until the piece is taken in, and at the stream's end until the last block is out.
    // Room for about what the piece deflates to: the string clears all the room it adds.
    const std::size_t step = std::clamp(piece / 2, kSmallestOutputStep, kOutputStep);
    for (;;) {
      const std::size_t used = out.size();
      out.resize(used + step);
      stream_->next_out = reinterpret_cast<std::uint8_t*>(out.data() + used);
      stream_->avail_out = static_cast<std::uint32_t>(step);
      // Fails only on a wrong level or level buffer, which the constructor sets.
      isal_deflate(stream_);
      out.resize(out.size() - stream_->avail_out);
      if (stream_->avail_out == 0) continue;
      if (stream_->avail_in == 0 && (!stream_->end_of_stream || stream_->internal_state.state == ZSTATE_END)) break;
    }
  } while (size > 0);
}

Inflater::Inflater() : state_(std::make_unique<inflate_state>()), out_(std::size_t{1} << 16) {
  isal_inflate_init(state_.get());
  state_->crc_flag = ISAL_GZIP_NO_HDR;  // keeps the CRC-32 of the output, which ZIP uses too
}

Inflater::~Inflater() = default;

std::uint32_t Inflater::Crc() const { return state_->crc; }

Inflater::State Inflater::Write(const void* data, std::size_t size,
                                const std::function<void(const char*, std::size_t)>& sink) {
  auto* bytes = static_cast<std::uint8_t*>(const_cast<void*>(data));  // ISA-L only reads it
  while (result_ == State::kNeedsInput && size > 0) {
    const std::size_t piece = std::min(size, kMaxPiece);
    state_->next_in = bytes;
    state_->avail_in = static_cast<std::uint32_t>(piece);
    bytes += piece;
    size -= piece;
    for (;;) {
      state_->next_out = reinterpret_cast<std::uint8_t*>(out_.data());
      state_->avail_out = static_cast<std::uint32_t>(out_.size());
      const int status = isal_inflate(state_.get());
      const std::size_t produced = out_.size() - state_->avail_out;
      if (status < 0) return result_ = State::kInvalid;
      if (produced > 0) sink(out_.data(), produced);
      if (state_->block_state == ISAL_BLOCK_FINISH) return result_ = State::kEnded;
      if (state_->avail_out == 0) continue;
      if (state_->avail_in == 0) break;
      // Room and input left, yet nothing came out: not a stream inflate can go on with.
      if (produced == 0) return result_ = State::kInvalid;
    }
  }
  return result_;
}

}  // namespace tabrend::spreadsheet
