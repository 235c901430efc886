// Constant tables of MPEG audio (ISO/IEC 11172-3 and 13818-3) shared by the decoder's layers.
#pragma once

#include <cstdint>

namespace mpeg {

// Bit rates in kbit/s: [0 MPEG-1, 1 MPEG-2/2.5][layer - 1][bit-rate index]; index 0 is free
// format and 15 is reserved (both 0 here and refused by the header check).
extern const uint16_t kBitRates[2][3][16];
// Sampling rates in Hz: [version - 1][sampling index].
extern const uint32_t kSampleRates[3][3];

// Scale-factor band edges of layer III, one row per sampling rate (row = 3 x (version - 1) +
// sampling index): 23 long-band edges (22 bands) and 14 short-band edges (13 bands per window).
struct BandEdges {
  uint16_t long_edges[23];
  uint16_t short_edges[14];
};
extern const BandEdges kBandEdges[9];
// Layer III pre-emphasis added to the long-band scale factors when preflag is set.
extern const uint8_t kPretab[22];
// MPEG-2/2.5 scale-factor partitions: [table][block kind 0 long, 1 short, 2 mixed][partition].
extern const uint8_t kSfbPartitions[6][3][4];

// Layer II allocation tables: four runs of subbands read with 4, 4, 3 and 2 allocation bits,
// each run with 16 quantisation classes (indices into kQuantClasses; 0 = not transmitted).
struct AllocTable {
  uint8_t run_length[4];
  uint8_t classes[4][16];
};
extern const AllocTable kAllocTables[5];
// Layer II quantisation classes: levels, bits per code word (for a grouped class the bits of one
// code word that carries three samples), grouped flag. Class 0 is "not transmitted".
struct QuantClass {
  uint32_t levels;
  uint8_t bits;
  uint8_t grouped;
};
extern const QuantClass kQuantClasses[18];
// Allocation table of an MPEG-1 layer II frame, or -1 when the combination has none.
int Layer2TableIndex(int mode, int sampling_index, int bitrate_index);

// The synthesis window: the prototype of Table 3-B.3 in units of 2^-16, entries 0 to 256
// (entry 512 - i equals entry i). The window D[i] is this value x (-1)^(i / 64).
extern const int32_t kWindowPrototype[257];
double SynthesisWindow(int i);  // D[i] of Table 3-B.3, i = 0 .. 511

// Huffman code tables of layer III (Table 3-B.7), in the standard's order: for a table of size
// n x n the entry of (x, y) is at x * n + y, with its code length and its code value.
struct HuffSource {
  uint8_t size;     // values per coordinate: 2, 3, 4, 6, 8 or 16 (0: the table codes nothing)
  uint8_t linbits;  // extra bits read after the value 15
  const uint8_t* lengths;
  const uint16_t* codes;
};
extern const HuffSource kHuffSources[32];
// Count1 table A (Table 3-B.7, "quadruples" A): length and code of each value vwxy (0-15).
extern const uint8_t kCount1ALengths[16];
extern const uint8_t kCount1ACodes[16];

}  // namespace mpeg
