// Switches of the file layer for its timing harness and tests. The program
// itself never calls them; every switch starts in its normal position.
#pragma once

namespace fileop_seams {

// With false, a move of a folder across file systems removes the sources
// without first making the copies durable (no fsync), as the system's own
// move tool does; for comparing the two. True at start.
void SetDurableMoves(bool durable);

}  // namespace fileop_seams
