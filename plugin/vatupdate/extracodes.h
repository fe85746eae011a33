// The additional barcodes of one warehouse, read once from the host's extra-code file.
#pragma once

#include "vatupdate/records.h"

// Appends the additional barcodes of the products of warehouse to the (empty) index.
void buildExtraCodeIndex(int32_t warehouse);

// Releases the index: null, 0, 0 afterwards.
void releaseExtraCodeIndex();
