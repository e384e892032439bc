// SPDX-License-Identifier: GPL-3.0-or-later
// The station list check on a file already open, for the reader and the
// keeper of damaged lists: reads from the stream's current position to its
// end.
#pragma once

#include <cstdio>

#include "DABUtils.h"

void DAB_check_station_list_file(FILE *file, DAB_ListCheck *check);
