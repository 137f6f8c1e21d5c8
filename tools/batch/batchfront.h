// The scheduler's front end for a terminal: live progress lines on standard
// error, no questions asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "jobs/scheduler.h"

struct JobStore;

class BatchFrontEnd : public SchedulerFrontEnd {
public:
    BatchFrontEnd(JobStore* store, FILE* out);

    void SetBusyState(bool busy) override;
    void ShowRunProgress(int active, int workers, int percent) override;
    void ShowJobRow(int position) override;
    void UpdateCommandStates() override {}
    bool Ask(RunQuestion, int) override { return true; }
    bool ConfirmRun(int) override { return true; }
    void SaveSettings() override {}
    void RunStarting() override { running_ = true; }
    void RunEnded() override { running_ = false; }
    void JobsRequeued() override {}
    bool AddVideosByDialog() override { return false; }
    int FocusedJob() override { return -1; }
    void CloseMainWindow() override {}

    bool running() const { return running_; }
    // Redraws the live block on a terminal (at most a few times a second);
    // elsewhere nothing: plain lines are printed as the jobs change.
    void Refresh(bool force);
    // Leaves the terminal's live block behind before the summary is printed.
    void Finish();

private:
    JobStore* store_;
    FILE* out_;
    bool terminal_;
    bool running_ = false;
    int percent_ = 0;
    int drawnLines_ = 0;
    long lastDraw_ = 0;
    int lastPlainPercent_ = -1;
    // Plain output: what was last printed for each job, by position.
    struct Shown {
        int16_t status = -1;
        int tenth = -1; // percent / 10 while converting
    };
    std::vector<Shown> shown_;
};
