#include "measure/sample_window.h"

void SampleWindow::Add(float sample)
{
    // The ring grows toward lower indices, so walking up from newest_ goes
    // from the newest sample to the oldest; the slot taken is the oldest one.
    newest_ = (newest_ + kCapacity - 1) % kCapacity;
    ring_[newest_] = sample;
    if (count_ < kCapacity)
        ++count_;
}

double SampleWindow::Evaluate()
{
    if (count_ == 0)
        return 0.0;

    // Summation order changes the last bits of the average: newest first.
    double sum = 0.0;
    for (int i = 0; i < count_; ++i)
        sum += static_cast<double>(ring_[(newest_ + i) % kCapacity]);
    const double average = sum / count_;

    if (count_ == kCapacity && (peak_ == 0.0f || average < static_cast<double>(peak_)))
        peak_ = static_cast<float>(average);
    return average;
}
