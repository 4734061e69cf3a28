#pragma once

// The most recent interval samples (at most kCapacity, newest first), their
// average and the peak: the lowest average of a full window seen so far.
class SampleWindow {
public:
    static constexpr int kCapacity = 50;

    // Puts sample at the front; the oldest beyond kCapacity drops out.
    void Add(float sample);

    // The average of the samples held, summed newest to oldest in double.
    // A full window whose average is below the peak (or with no peak yet)
    // lowers the peak. An empty window evaluates to 0 and leaves the peak.
    double Evaluate();

    // Milliseconds; 0 while no full window has been evaluated.
    float Peak() const { return peak_; }

    int Size() const { return count_; }

private:
    float ring_[kCapacity] = {};
    int newest_ = 0;  // index of the newest sample in ring_
    int count_ = 0;
    float peak_ = 0.0f;
};
