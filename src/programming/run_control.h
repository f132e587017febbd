#pragma once

// The operator's side of a programming run: START PROGRAMMING / CANCEL and the run's timers
// (the countdown while the operator power-cycles the device, the wake-up sender, the ready
// request and the dot watchdog).

namespace norvak {

class frmProg;

class RunControl {
public:
    explicit RunControl(frmProg& window)
        : w_(window) {}

    void btnFlash_Click();
    void Timerresettobootprg_Timer();
    void Timersendi_Timer();
    void Timersendf_Timer();
    void TimerdotNotReceived_Timer();

private:
    void cancelRun();
    void startRun();
    void showCountdown();

    frmProg& w_;
};

} // namespace norvak
