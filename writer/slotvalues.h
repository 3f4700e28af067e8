// The values of an output variable as the file holds them, converted from
// the store fields its slots name when they are written: value x
// amplification + offset in double precision, rounded to float; a field's
// fill values pass unscaled, and a slot no field fills holds the variable's
// fill value.
#pragma once

#include "writer/ncstruct.h"

#include <cstddef>
#include <vector>

// Values per slot: the lats x lons of the first field placed.
size_t sliceSize(const NC_STRUCT& v);

// `count` values of slot `slot`, from its value `first`, into `out`.
void slotValues(const NC_STRUCT& v, size_t slot, size_t first, size_t count, float* out);

// Every value of a variable, slot after slot, for the few callers that need
// the variable whole; the file itself is written without such a copy.
std::vector<float> assembledValues(const NC_STRUCT& v);

// Writes data variable `varid` of file `nc`, of `levels` x `ny` x `nx`
// values per member (`levelDim`: the variable has a level dimension;
// `ensemble`: a leading member dimension of members.size()), converting from
// the store one chunk at a time (a slice at a time for a contiguous
// variable), chunks in their order, each in one piece: the file gets the
// bytes one call for the whole variable would give it. A null member is
// written as `fill`.
void putVariableValues(int nc, int varid, const std::vector<const NC_STRUCT*>& members, bool ensemble, bool levelDim,
                       size_t levels, size_t ny, size_t nx, float fill);
