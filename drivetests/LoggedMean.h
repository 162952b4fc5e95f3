#pragma once

#include <cstddef>

// The mean the tests form over logged points: the first point only primes it, so that with two
// or more points it is the mean of the second to the last (the first sample may catch the drive
// before the program's reference took hold); with one point it is that point.
class LoggedMean {
  public:
    void Add(double value) {
        if (count_ == 0) {
            mean_ = value;
        } else {
            mean_ =
                ((static_cast<double>(count_) - 1.0) * mean_ + value) / static_cast<double>(count_);
        }
        ++count_;
    }
    bool IsEmpty() const { return count_ == 0; }
    double Value() const { return mean_; }

  private:
    std::size_t count_ = 0;
    double mean_ = 0.0;
};
