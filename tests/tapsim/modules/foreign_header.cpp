// The records of a module made for another receiver: its header carries another mark.
#define TEST_HEADER_MARK 'T', 'F', 'A', 'P', 'A', 'R', 'M', ' '
#define TEST_MODULE_NAME "foreign header"
#include "records.cpp"  // NOLINT(bugprone-suspicious-include): the same records, another header
