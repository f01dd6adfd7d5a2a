#pragma once
// .ADPCM sounds: IMA ADPCM at 4 bits per sample, two codes per byte, earlier sample in the high
// nibble. The stream has no header: the chip starts every sound from predictor 0 and step
// index 0 and steps with the table it finds in its system area. What a code plays is the
// chip's decoder's (sound_decoders.h) with the tables every image stores: the encoders build
// their tables from it and keep its state, so that they cannot drift from what is heard.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sound_decoders.h"

// What one sample leaves for the next: the chip's decoder's state after the sample's code. A
// sound starts from the default and carries it from block to block.
using AdpcmState = AdpcmPlayback;

// Encodes one sample and advances the state exactly as the chip's decoder will; returns the
// 4-bit code (bit 3 the sign).
uint8_t AdpcmEncodeStep(AdpcmState* state, int32_t sample);

// Bytes of n samples: (n + 1) / 2.
size_t AdpcmBytes(size_t n);

// Encodes n samples from state into out (AdpcmBytes(n) bytes) and leaves state where the last
// sample left it. A block of a sound holds an even count except the sound's last, whose lone
// last code takes the high nibble of its byte; so a sound gives the same bytes in any blocks.
void EncodeAdpcmBlock(AdpcmState* state, const int32_t* samples, size_t n, uint8_t* out);

// The same, returning the sum of the squared differences between the samples and what the
// chip plays for the codes: the greedy encoder's predictor is the played sample.
int64_t EncodeAdpcmMeasured(AdpcmState* state, const int32_t* samples, size_t n, uint8_t* out);

// --adpcm-quality: 0 is the greedy encoder above, byte for byte; 1 to 3 search ever more code
// sequences for the one the chip plays closest to the input.
constexpr int kAdpcmQualityMax = 3;

// How widely a search of level 2 or 3 looks: paths kept per sample, magnitudes tried around the
// one nearest the sample, the lowest magnitudes also tried with the other sign, how finely paths
// merge (two with one step index merge when their predictors lie in the same bucket of
// step / 2^fineness), and the samples between commits, which is also how far back a commit
// reaches. The levels' widths are fixed; the bench widens the search past level 3's to measure
// how much a wider one still gains.
struct AdpcmSearchWidth {
  int survivors = 1;
  int radius = 0;
  int opposite = 0;
  int fineness = 0;
  int depth = 32;
};

// Whether a width can be searched: radius 0..3, opposite 0..8, fineness 0..7, a depth that is a
// power of two from 16 to 1024, at most 65533 expansions a sample (survivors x (2 x radius + 1 +
// opposite)), and at least four survivors for each code a path tries: with fewer, a loud start
// puts every expansion in the ranking's one class, the earliest offered survive, and the search
// can lose its cheapest path and play far worse than the greedy encoder.
bool AdpcmSearchWidthFits(const AdpcmSearchWidth& width);

// Decoder states of the search, a vector per field: each pass over them reads only the fields
// it needs.
struct AdpcmPaths {
  std::vector<int32_t> predictor;  // where the chip would stand after the path's codes
  std::vector<int32_t> index;
  std::vector<int64_t> cost;       // squared error of the path, from the last checkpoint's cheapest
  std::vector<uint16_t> origin;    // its ancestor's slot at the last checkpoint
};

// Level 1's two paths between blocks. A path is its state's merge key (step index times 2^17
// plus predictor plus 32768) and its squared error; it carries its own codes since the last
// checkpoint, sixteen a word as the bytes of the sound (a byte's earlier code in its high nibble,
// the first byte lowest), so that no history is walked.
struct AdpcmPair {
  int32_t key[2] = {32768, 32768};
  int64_t cost[2] = {};
  uint32_t origins = 0;        // bit k: the slot at the last checkpoint that path k grew from
  uint64_t codes[2][2] = {};
  uint64_t held[2][2] = {};    // each slot's codes of the depth before the last checkpoint
};

// A trellis over decoder states: every sample expands each kept path by the codes around the
// one nearest the sample, states with one step index and predictors within a fraction of its
// step merge keeping the cheaper path, and the cheapest paths survive.
// Every `depth` samples the codes that lie `depth` samples back on the cheapest path are
// committed and the paths that do not descend from them are dropped; the sound's end commits
// the rest of the cheapest path. Decisions hang on sample numbers only, so any split of a sound
// into blocks gives the same bytes, and the memory stays bounded however long the sound.
struct AdpcmSearch {
  AdpcmSearchWidth width;  // the level's, or one of its own; one survivor is the greedy encoder
  AdpcmState greedy;  // level 0
  uint64_t samples = 0;    // samples searched
  uint64_t committed = 0;  // codes written out; always a multiple of the depth
  uint32_t ring = 0;       // the next sample's row in the history ring
  AdpcmPaths kept;         // the survivors, in the order they were offered
  uint32_t keptCount = 0;
  uint32_t cheapest = 0;   // the cheapest survivor's slot
  AdpcmPaths spare;        // where the next sample's survivors go
  // This sample's expansions, merged, counted from 1 (see StartAdpcmSearch).
  std::vector<int32_t> predictor;
  std::vector<int64_t> cost;
  std::vector<uint32_t> key;      // its merge key
  std::vector<uint16_t> parent;   // the survivor it grew from
  std::vector<uint8_t> code;      // and the code it took
  std::vector<uint16_t> rank;     // its cost's class, to pick the survivors
  std::vector<uint16_t> merge;    // direct-mapped by merge key: the expansion holding it, 0 for none
  std::vector<uint16_t> parents;  // 2 x depth samples of survivors' parents, a ring
  std::vector<uint8_t> codes;     // and their codes
  std::vector<uint8_t> path;     // the codes of one commit, in order
  AdpcmPair pair;                 // level 1
};

// A search for one sound at a quality level 0..kAdpcmQualityMax.
void StartAdpcmSearch(AdpcmSearch* search, int quality);

// A search for one sound at a width; false, and the search untouched, for a width that does not
// fit (AdpcmSearchWidthFits).
bool StartAdpcmWidthSearch(AdpcmSearch* search, const AdpcmSearchWidth& width);

// Encodes the next n samples of the sound; *out becomes the whole bytes that are decided so far
// (level 0: AdpcmBytes(n)); last marks the sound's last block, whose bytes end the sound. Blocks
// before the last hold an even count.
void SearchAdpcmBlock(AdpcmSearch* search, const int32_t* samples, size_t n, bool last,
                      std::vector<uint8_t>* out);

// A whole sound held in memory, fed to a started search in blocks of block samples (an odd count
// is taken as the next even one, 0 as the whole sound): the sound's bytes.
std::vector<uint8_t> SearchAdpcmSound(AdpcmSearch* search, const int32_t* samples, size_t n, size_t block);
