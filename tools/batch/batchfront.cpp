#include "tools/batch/batchfront.h"

#include <unistd.h>

#include <vector>

#include "converter/progress.h"
#include "jobs/job.h"
#include "util/textutil.h"

BatchFrontEnd::BatchFrontEnd(JobStore* store, FILE* out)
    : store_(store), out_(out), terminal_(isatty(fileno(out)) != 0) {}

void BatchFrontEnd::SetBusyState(bool busy) {
    if (!busy) Refresh(true);
}

void BatchFrontEnd::ShowRunProgress(int, int, int percent) {
    percent_ = percent;
    if (terminal_ || percent / 10 == lastPlainPercent_ / 10) return;
    lastPlainPercent_ = percent;
    fprintf(out_, "Overall %d%%\n", percent);
    fflush(out_);
}

void BatchFrontEnd::ShowJobRow(int position) {
    if (terminal_) {
        Refresh(false);
        return;
    }
    // Plain output: a line when a job reaches a new status, and while it
    // converts, one for every tenth of the way; none for the other ticks.
    ConversionJob* job = JobAt(store_, position);
    if (job == nullptr || position < 0) return;
    if (static_cast<size_t>(position) >= shown_.size()) shown_.resize(static_cast<size_t>(position) + 1);
    Shown& shown = shown_[static_cast<size_t>(position)];
    int16_t status = job->status.load();
    if (status == Pending || status == Starting) return;
    // A stopped job's converter may tick on for a while before it ends: the
    // stop has been shown, only its final status is still to come.
    if (status == Converting && job->stopRequested.load()) return;
    int tenth = -1;
    if (status == Converting) {
        double percent = 0.0;
        if (job->progressSlot >= 0 && ProgressRead(job->progressSlot, &percent, nullptr) != 0)
            tenth = static_cast<int>(percent) / 10;
        else
            tenth = 0;
    }
    if (status == shown.status && tenth == shown.tenth) return;
    shown.status = status;
    shown.tenth = tenth;
    std::string text;
    StatusText(*job, text);
    fprintf(out_, "%s\t%s\n", text.c_str(), job->sourcePath.c_str());
    fflush(out_);
}

void BatchFrontEnd::Refresh(bool force) {
    if (!terminal_) return;
    long now = static_cast<long>(TickCount());
    if (!force && now - lastDraw_ < 200) return;
    lastDraw_ = now;
    std::string block;
    for (int i = 0; i < drawnLines_; ++i) block += "\033[A\033[2K";
    block += "\r";
    int lines = 0;
    std::string text;
    int count = JobCount(store_);
    for (int i = 0; i < count; ++i) {
        ConversionJob* job = JobAt(store_, i);
        int16_t status = job->status.load();
        if (status != Converting && status != Starting) continue;
        StatusText(*job, text);
        block += text + "  " + job->sourcePath + "\n";
        ++lines;
    }
    block += "Overall " + std::to_string(percent_) + "%\n";
    ++lines;
    drawnLines_ = lines;
    fputs(block.c_str(), out_);
    fflush(out_);
}

void BatchFrontEnd::Finish() {
    if (terminal_) Refresh(true);
    drawnLines_ = 0;
}
