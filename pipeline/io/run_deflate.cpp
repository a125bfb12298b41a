// Deflating filtered image rows without a search for repeats. Each block of
// input is read twice: once into tokens (a byte, or a run of bytes that
// repeat the ones three before), counted as it goes, and once more from the
// tokens into bits, with Huffman codes made for that block's counts. Blocks
// whose codes would not make them smaller are stored. The format is deflate's
// own (dynamic Huffman and stored blocks), so every inflater reads it.
#include "io/run_deflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace demosaic {
namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 18;
constexpr std::size_t kStoredBytes = 65535;  // the most a stored block holds
constexpr std::size_t kRunDistance = 3;      // one RGB pixel back
constexpr std::size_t kMinRun = 4;
constexpr std::size_t kMaxRun = 258;
constexpr int kEndOfBlock = 256;
constexpr int kLiteralSymbols = 286;
// Distance codes 0 (distance 1, unused) and 2 (distance 3), one bit each: a
// complete code, which every inflater accepts.
constexpr int kDistanceSymbols = 3;
constexpr std::uint32_t kRunDistanceBits = 1;  // code 2's canonical code: "1"
constexpr int kCodeLengthSymbols = 19;
constexpr std::array<int, kCodeLengthSymbols> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A run's length symbol (257 to 285) and its extra bits.
struct LengthCode {
  std::uint16_t symbol = 0;
  std::uint8_t extra_bits = 0;
  std::uint16_t extra = 0;
};

// The shortest length of each of the 29 length symbols, and its extra bits.
constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

constexpr std::array<LengthCode, kMaxRun + 1> MakeLengthCodes() {
  std::array<LengthCode, kMaxRun + 1> codes{};
  for (std::size_t code = 0; code < kLengthBase.size(); ++code) {
    const std::size_t last = code + 1 < kLengthBase.size() ? kLengthBase[code + 1] - 1u : kMaxRun;
    for (std::size_t length = kLengthBase[code]; length <= last; ++length) {
      codes[length] = {static_cast<std::uint16_t>(257 + code), kLengthExtraBits[code],
                       static_cast<std::uint16_t>(length - kLengthBase[code])};
    }
  }
  return codes;
}
constexpr std::array<LengthCode, kMaxRun + 1> kLengthCodes = MakeLengthCodes();

// Bits go out least significant first, 32 at a time once that many are
// waiting; at most 32 are put at once.
struct BitWriter {
  unsigned char* out = nullptr;
  std::uint64_t bits = 0;
  int count = 0;
};

void Put(BitWriter& writer, std::uint32_t value, int length) {
  writer.bits |= std::uint64_t{value} << writer.count;
  writer.count += length;
  if (writer.count >= 32) {
    const auto word = static_cast<std::uint32_t>(writer.bits);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(writer.out, &word, 4);
    } else {
      for (int i = 0; i < 4; ++i) writer.out[i] = static_cast<unsigned char>(word >> (8 * i));
    }
    writer.out += 4;
    writer.bits >>= 32;
    writer.count -= 32;
  }
}

// Pads to the next whole byte and writes out what waits; returns where the
// next byte goes.
unsigned char* AlignToByte(BitWriter& writer) {
  if (writer.count % 8 != 0) Put(writer, 0, 8 - writer.count % 8);
  for (; writer.count > 0; writer.count -= 8, writer.bits >>= 8) {
    *writer.out++ = static_cast<unsigned char>(writer.bits);
  }
  writer.bits = 0;
  return writer.out;
}

// Eight bytes from `p` as one number, the first byte lowest.
std::uint64_t LoadLittleEndian64(const unsigned char* p) {
  std::uint64_t value = 0;
  std::memcpy(&value, p, 8);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
  return value;
}

// The top bit of each of the eight bytes from `here` set where that byte
// equals the one kRunDistance before it, exactly (no carries between bytes).
std::uint64_t SameAsBefore(const unsigned char* here) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  const std::uint64_t differ = LoadLittleEndian64(here) ^ LoadLittleEndian64(here - kRunDistance);
  return ~(((differ & kLow7) + kLow7) | differ | kLow7);
}

// How many bytes from `here` on, up to `limit`, each equal the byte
// kRunDistance before them: eight compared at a time.
std::size_t RunLength(const unsigned char* here, std::size_t limit) {
  const unsigned char* before = here - kRunDistance;
  std::size_t run = 0;
  for (; run + 8 <= limit; run += 8) {
    const std::uint64_t differ = LoadLittleEndian64(here + run) ^ LoadLittleEndian64(before + run);
    if (differ != 0) return run + static_cast<std::size_t>(std::countr_zero(differ) / 8);
  }
  while (run < limit && here[run] == before[run]) ++run;
  return run;
}

// Splits data[begin, end) into tokens: a byte (below 256), or 256 plus the
// length of a run of at least kMinRun bytes each equal to the one
// kRunDistance before it. Counts each token's symbol in `counts`. Returns the
// number of tokens. Eight bytes are looked at together: where no run starts
// among the first five, all five are bytes.
std::size_t Tokenize(const unsigned char* data, std::size_t begin, std::size_t end,
                     std::uint16_t* tokens, std::array<std::uint32_t, kLiteralSymbols>& counts) {
  static_assert(kMinRun == 4);
  std::size_t count = 0;
  std::size_t at = begin;
  while (at < end) {
    std::size_t literals = 1;  // bytes before a run, or before looking again
    bool run_follows = false;
    if (at >= kRunDistance && end - at >= 8) {
      const std::uint64_t same = SameAsBefore(data + at);
      const std::uint64_t run_starts = same & (same >> 8) & (same >> 16) & (same >> 24);
      run_follows = run_starts != 0;
      literals = run_follows ? static_cast<std::size_t>(std::countr_zero(run_starts) / 8) : 5;
    } else if (at >= kRunDistance) {
      run_follows = RunLength(data + at, end - at) >= kMinRun;
      literals = run_follows ? 0 : 1;
    }
    for (std::size_t i = 0; i < literals; ++i) {
      tokens[count++] = data[at + i];
      ++counts[data[at + i]];
    }
    at += literals;
    if (!run_follows) continue;
    const std::size_t run = RunLength(data + at, std::min(end - at, kMaxRun));
    tokens[count++] = static_cast<std::uint16_t>(256 + run);
    ++counts[kLengthCodes[run].symbol];
    at += run;
  }
  return count;
}

// Code lengths of an optimal prefix code for `counts`, none longer than
// `max_length`. Where the optimal code is deeper, the counts are halved
// (rounding up, so no used symbol is lost) and the code made again. A lone
// used symbol gets a partner, so the code is always complete.
void BuildCodeLengths(std::span<const std::uint32_t> counts, int max_length,
                      std::span<std::uint8_t> lengths) {
  std::vector<std::uint32_t> weights(counts.begin(), counts.end());
  std::size_t used = 0;
  for (std::uint32_t w : weights) used += w > 0;
  if (used < 2) {
    for (std::size_t s = 0; s < weights.size() && used < 2; ++s) {
      if (weights[s] == 0) weights[s] = 1, ++used;
    }
  }
  std::vector<std::uint32_t> symbols;
  std::vector<std::uint64_t> node_weight;
  std::vector<std::int32_t> parent;
  for (;;) {
    symbols.clear();
    for (std::uint32_t s = 0; s < weights.size(); ++s) {
      if (weights[s] > 0) symbols.push_back(s);
    }
    std::stable_sort(symbols.begin(), symbols.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return weights[a] < weights[b]; });
    // Two queues: the sorted leaves, then the merged nodes in the order they
    // were made (their weights never decrease).
    const std::size_t leaves = symbols.size();
    node_weight.assign(2 * leaves - 1, 0);
    parent.assign(2 * leaves - 1, -1);
    for (std::size_t i = 0; i < leaves; ++i) node_weight[i] = weights[symbols[i]];
    std::size_t next_leaf = 0, next_merged = leaves;
    for (std::size_t made = leaves; made < 2 * leaves - 1; ++made) {
      std::size_t pick[2];
      for (std::size_t& p : pick) {
        const bool take_leaf =
            next_leaf < leaves &&
            (next_merged >= made || node_weight[next_leaf] <= node_weight[next_merged]);
        p = take_leaf ? next_leaf++ : next_merged++;
      }
      node_weight[made] = node_weight[pick[0]] + node_weight[pick[1]];
      parent[pick[0]] = parent[pick[1]] = static_cast<std::int32_t>(made);
    }
    // Depths from the root (the last node) down; parents come after children.
    std::vector<int> depth(2 * leaves - 1, 0);
    int deepest = 0;
    for (std::size_t n = 2 * leaves - 1; n-- > 0;) {
      if (parent[n] >= 0) depth[n] = depth[static_cast<std::size_t>(parent[n])] + 1;
      if (n < leaves) deepest = std::max(deepest, depth[n]);
    }
    if (deepest <= max_length) {
      std::fill(lengths.begin(), lengths.end(), 0);
      for (std::size_t i = 0; i < leaves; ++i) {
        lengths[symbols[i]] = static_cast<std::uint8_t>(depth[i]);
      }
      return;
    }
    for (std::uint32_t& w : weights) w = (w + 1) / 2;
  }
}

// Canonical codes for `lengths`, bit-reversed for writing least significant
// bit first.
void AssignCodes(std::span<const std::uint8_t> lengths, std::span<std::uint32_t> codes) {
  std::array<std::uint32_t, 16> per_length{};
  for (std::uint8_t length : lengths) ++per_length[length];
  per_length[0] = 0;
  std::array<std::uint32_t, 16> next{};
  for (int length = 1; length < 16; ++length) {
    next[length] = (next[length - 1] + per_length[length - 1]) << 1;
  }
  for (std::size_t s = 0; s < lengths.size(); ++s) {
    const int length = lengths[s];
    if (length == 0) continue;
    const std::uint32_t code = next[length]++;
    std::uint32_t reversed = 0;
    for (int bit = 0; bit < length; ++bit) reversed |= ((code >> bit) & 1u) << (length - 1 - bit);
    codes[s] = reversed;
  }
}

// One block's Huffman codes and the bits they take.
struct BlockCodes {
  std::array<std::uint8_t, kLiteralSymbols> literal_lengths{};
  std::array<std::uint32_t, kLiteralSymbols> literal_codes{};
  std::array<std::uint8_t, kCodeLengthSymbols> header_lengths{};
  std::array<std::uint32_t, kCodeLengthSymbols> header_codes{};
  int literal_count = 257;  // HLIT + 257
  int header_count = 4;     // HCLEN + 4
  std::uint64_t bits = 0;   // the whole block, its header included
};

// The lengths of the literal/length code and then of the distance code, as
// the block header lists them.
std::array<std::uint8_t, kLiteralSymbols + kDistanceSymbols> ListedLengths(
    const BlockCodes& block) {
  std::array<std::uint8_t, kLiteralSymbols + kDistanceSymbols> listed{};
  std::copy_n(block.literal_lengths.begin(), block.literal_count, listed.begin());
  const std::array<std::uint8_t, kDistanceSymbols> distance_lengths = {1, 0, 1};
  std::copy(distance_lengths.begin(), distance_lengths.end(), listed.begin() + block.literal_count);
  return listed;
}

BlockCodes MakeBlockCodes(const std::array<std::uint32_t, kLiteralSymbols>& counts) {
  BlockCodes block;
  BuildCodeLengths(counts, 15, block.literal_lengths);
  AssignCodes(block.literal_lengths, block.literal_codes);
  for (int s = kLiteralSymbols; s-- > 257;) {
    if (block.literal_lengths[s] > 0) {
      block.literal_count = s + 1;
      break;
    }
  }
  const auto listed = ListedLengths(block);
  const std::size_t listed_count = static_cast<std::size_t>(block.literal_count) + kDistanceSymbols;
  std::array<std::uint32_t, kCodeLengthSymbols> header_counts{};
  for (std::size_t i = 0; i < listed_count; ++i) ++header_counts[listed[i]];
  BuildCodeLengths(header_counts, 7, block.header_lengths);
  AssignCodes(block.header_lengths, block.header_codes);
  for (int i = kCodeLengthSymbols; i-- > 4;) {
    if (block.header_lengths[kCodeLengthOrder[i]] > 0) {
      block.header_count = i + 1;
      break;
    }
  }

  std::uint64_t bits = 3 + 5 + 5 + 4 + 3 * static_cast<std::uint64_t>(block.header_count);
  for (std::size_t i = 0; i < listed_count; ++i) bits += block.header_lengths[listed[i]];
  for (int s = 0; s < kLiteralSymbols; ++s) {
    bits += std::uint64_t{counts[s]} * block.literal_lengths[s];
  }
  // Each run's extra bits and its one distance bit.
  for (std::size_t code = 0; code < kLengthExtraBits.size(); ++code) {
    bits += std::uint64_t{counts[257 + code]} * (kLengthExtraBits[code] + 1u);
  }
  block.bits = bits;
  return block;
}

void WriteDynamicBlock(BitWriter& writer, const BlockCodes& block, const std::uint16_t* tokens,
                       std::size_t token_count, bool last) {
  Put(writer, last ? 1u : 0u, 1);
  Put(writer, 2, 2);  // dynamic Huffman codes
  Put(writer, static_cast<std::uint32_t>(block.literal_count - 257), 5);
  Put(writer, kDistanceSymbols - 1, 5);
  Put(writer, static_cast<std::uint32_t>(block.header_count - 4), 4);
  for (int i = 0; i < block.header_count; ++i) {
    Put(writer, block.header_lengths[kCodeLengthOrder[i]], 3);
  }
  const auto listed = ListedLengths(block);
  for (int i = 0; i < block.literal_count + kDistanceSymbols; ++i) {
    Put(writer, block.header_codes[listed[i]], block.header_lengths[listed[i]]);
  }
  // A run's length code, extra bits and distance code as one value.
  std::array<std::uint32_t, kMaxRun + 1> run_bits{};
  std::array<std::uint8_t, kMaxRun + 1> run_length{};
  for (std::size_t run = kMinRun; run <= kMaxRun; ++run) {
    const LengthCode& code = kLengthCodes[run];
    const int symbol_length = block.literal_lengths[code.symbol];
    if (symbol_length == 0) continue;
    std::uint32_t value = block.literal_codes[code.symbol];
    value |= std::uint32_t{code.extra} << symbol_length;
    const int with_extra = symbol_length + code.extra_bits;
    value |= kRunDistanceBits << with_extra;
    run_bits[run] = value;
    run_length[run] = static_cast<std::uint8_t>(with_extra + 1);
  }
  // Two bytes in a row go out together (at most 30 bits).
  std::size_t t = 0;
  while (t < token_count) {
    const std::uint16_t token = tokens[t];
    if (token >= 256) {
      Put(writer, run_bits[token - 256], run_length[token - 256]);
      ++t;
    } else if (t + 1 < token_count && tokens[t + 1] < 256) {
      const std::uint16_t next = tokens[t + 1];
      const int first_length = block.literal_lengths[token];
      Put(writer, block.literal_codes[token] | (block.literal_codes[next] << first_length),
          first_length + block.literal_lengths[next]);
      t += 2;
    } else {
      Put(writer, block.literal_codes[token], block.literal_lengths[token]);
      ++t;
    }
  }
  Put(writer, block.literal_codes[kEndOfBlock], block.literal_lengths[kEndOfBlock]);
}

void WriteStoredBlocks(BitWriter& writer, const unsigned char* data, std::size_t size, bool last) {
  std::size_t done = 0;
  do {
    const std::size_t piece = std::min(kStoredBytes, size - done);
    const bool final_piece = last && done + piece == size;
    Put(writer, final_piece ? 1u : 0u, 1);
    Put(writer, 0, 2);  // stored
    unsigned char* out = AlignToByte(writer);
    const auto length = static_cast<std::uint16_t>(piece);
    const auto complement = static_cast<std::uint16_t>(~length);
    const unsigned char header[4] = {
        static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
        static_cast<unsigned char>(complement), static_cast<unsigned char>(complement >> 8)};
    std::memcpy(out, header, 4);
    if (piece > 0) std::memcpy(out + 4, data + done, piece);  // no data at all for empty input
    writer.out = out + 4 + piece;
    done += piece;
  } while (done < size);
}

std::size_t StoredBlockBytes(std::size_t size) {
  return size + 5 * (size / kStoredBytes + 1);
}

}  // namespace

std::size_t DeflateImageRowsBound(std::size_t input_bytes) {
  // The zlib header and Adler-32, each block no larger than stored (plus the
  // byte its first bits may share), and the writer's slack.
  const std::size_t blocks = input_bytes / kBlockBytes + 1;
  return 2 + StoredBlockBytes(input_bytes) + 5 * blocks + blocks + 4 + 8;
}

std::size_t DeflateImageRows(std::span<const unsigned char> input, unsigned char* out) {
  const unsigned char* data = input.data();
  const std::size_t size = input.size();
  std::unique_ptr<std::uint16_t[]> tokens(new std::uint16_t[kBlockBytes]);
  out[0] = 0x78;  // deflate, 32 KiB window
  out[1] = 0x01;  // fastest level; header check
  BitWriter writer{out + 2};
  std::size_t begin = 0;
  do {
    const std::size_t end = std::min(size, begin + kBlockBytes);
    const bool last = end == size;
    std::array<std::uint32_t, kLiteralSymbols> counts{};
    const std::size_t token_count = Tokenize(data, begin, end, tokens.get(), counts);
    counts[kEndOfBlock] = 1;
    const BlockCodes block = MakeBlockCodes(counts);
    if ((block.bits + 7) / 8 < StoredBlockBytes(end - begin)) {
      WriteDynamicBlock(writer, block, tokens.get(), token_count, last);
    } else {
      WriteStoredBlocks(writer, data + begin, end - begin, last);
    }
    begin = end;
  } while (begin < size);
  unsigned char* end = AlignToByte(writer);
  const std::uint32_t adler = libdeflate_adler32(1, data, size);
  for (int i = 0; i < 4; ++i) end[i] = static_cast<unsigned char>(adler >> (24 - 8 * i));
  return static_cast<std::size_t>(end + 4 - out);
}

}  // namespace demosaic
