#pragma once

// The standard encoder resolutions the kernel offers, in lines per revolution, ascending: the
// powers of two from 16 to 65536 and the round counts encoder makers build (100, 200, 250, 360,
// 400, 500, 1000, 1250, 2000, 2500, 5000, 10000, ...). A resolution test measures a line count
// and proposes the standard resolution nearest to it.
//
//   const int index = CResolution::FindBestResolution(measured_lines);
//   if (index >= 0) { lines = CResolution::GetResolution(index); }
//
// Nearest means the smallest difference in lines; of two standard resolutions equally near, the
// smaller one. A count below the smallest standard resolution gives the smallest, one above the
// largest gives the largest; a count below 1 (nothing measured) gives -1.

class CResolution {
  public:
    // The index of the standard resolution nearest to the line count, or -1 for a count below 1.
    static int FindBestResolution(int lines);
    // The resolution of that index in lines per revolution, 0 for an index outside the list.
    static int GetResolution(int index);
    static int GetCount();
};
