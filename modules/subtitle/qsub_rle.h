// The run-length code of QSUB pictures: the 2-bit pixel code of DVD
// sub-pictures written in 4-bit units, high nibble first, in two interlaced
// fields (rows 0, 2, 4, ... from the top, then rows 1, 3, 5, ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "layer1/zep_status.h"

// Appends the code of one row of `width` pixel values (0..3) to `out`. The row
// ends on a byte: a zero nibble follows an odd number of nibbles.
void zep_qsub_encode_row(const uint8_t* row, uint32_t width, std::vector<uint8_t>* out);

// Codes a picture of width x height values (rows from top to bottom): first
// field, then second field. `secondFieldOffset` is the byte length of the
// first field.
void zep_qsub_encode_fields(const uint8_t* pixels, uint32_t width, uint32_t height,
                            std::vector<uint8_t>* data, size_t* secondFieldOffset);

// Decodes one field: the rows firstRow, firstRow + 2, ... of a picture of
// width x height values (top to bottom) from data[offset ..). Every row must be
// complete within `size`; a run that passes the end of its row is damage.
// ZEP_ERR_INVALID_SUBTITLE on damage, else 0.
ZEP_STATUS zep_qsub_decode_field(const uint8_t* data, size_t size, size_t offset, uint32_t width,
                                 uint32_t height, uint32_t firstRow, uint8_t* pixels);
