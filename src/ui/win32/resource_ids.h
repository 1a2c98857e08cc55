// Resource numbers shared by the resource script and the binding.
#pragma once

#define QUILLON_IDB_BRAND_WIDE 101
#define QUILLON_IDB_BRAND_SMALL 102
#define QUILLON_IDB_BRAND_LOADER 103
