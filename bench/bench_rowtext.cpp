// The four column texts of one job-list row, as painting asks for them.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "converter/progress.h"
#include "jobs/job.h"
#include "util/textutil.h"

int main() {
    const bool channel = ProgressOpen();
    const int slot = channel ? ProgressAllocSlot() : -1;

    // A mix of what a list shows: mostly finished and waiting rows, a few running.
    const int16_t statuses[] = {Done, Ready, Done, Cancelled, Converting, Ready, ConvertError, Pending, Done, Downloading};
    std::vector<ConversionJob*> jobs;
    for (int i = 0; i < 1000; ++i) {
        ConversionJob* job = JobCreate("/home/annabelle/Videos/Holidays 2007/clip " + std::to_string(i) + ".avi");
        job->status = statuses[i % std::size(statuses)];
        job->displayName = i % 13 == 0 ? "" : "clip " + std::to_string(i);
        job->profileId = static_cast<int16_t>(500 + i % 17);
        job->duration = static_cast<uint32_t>(i * 37);
        job->sourceSize = 1000ull * static_cast<uint64_t>(i) * i;
        job->outputSize = 52428800ull + static_cast<uint64_t>(i);
        job->subStatus = 2;
        job->progressBytes = 123456;
        job->progressSlot = slot;
        job->startTick = TickCount() - 5000;
        jobs.push_back(job);
    }

    std::string text;
    size_t checksum = 0;
    constexpr int kRounds = 500;
    using Clock = std::chrono::steady_clock;
    // One warm-up round, then the timed ones.
    for (const ConversionJob* job : jobs)
        for (int column = 0; column < kJobColumnCount; ++column) JobCellText(*job, column, text);
    const auto t0 = Clock::now();
    for (int round = 0; round < kRounds; ++round)
        for (const ConversionJob* job : jobs)
            for (int column = 0; column < kJobColumnCount; ++column) {
                JobCellText(*job, column, text);
                checksum += text.size();
            }
    const auto t1 = Clock::now();
    const double rows = static_cast<double>(kRounds) * static_cast<double>(jobs.size());
    const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / rows;
    std::printf("four column texts: %.0f ns per row over %.0f rows (goal < 2000 ns); progress channel %s; checksum %zu\n",
                ns, rows, channel ? "open" : "absent", checksum);

    for (ConversionJob* job : jobs) JobFree(job);
    if (channel) ProgressClose();
    return 0;
}
