// The trigger pump: the driver of a chain with no device at its end. A worker thread of its own
// pulls a buffer from the Input, pushes it to the Output and repeats as fast as the chain
// allows, until the input runs dry. The end is seen by the worker, but the stop (and OnStop)
// happens in the user-interface thread, by a message posted to the trigger's hidden window.
//
// The trigger needs a running application event loop for its stop to arrive.
#pragma once

#include "audio/MMDSPObj.h"
#include "common/MMTypes.h"
#include "import/MMMPEG.h"  // TMMErrorEvent

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Event;
class MessageWindow;

class EMMTriggerError : public EMMError {
public:
    using EMMError::EMMError;
};

// Fixed texts of EMMTriggerError (the prefixes name the operation that failed).
std::string TriggerOpenError();        // "TriggerOpen:\n\rInvalid wave format"
std::string TriggerStartError();       // "TriggerStart:\n\rUnable to start device"
std::string TriggerThreadError();      // "Trigger:\n\rCould not create thread"

enum TMMTriggerStateFlag : uint32_t { trsOpen = 1, trsStarted = 2, trsPaused = 4 };

class TMMTrigger : public TMMCustomSoundComponent {
public:
    explicit TMMTrigger(TMMComponent* owner = nullptr);
    // Closes (ending the worker thread) and releases the hidden window.
    ~TMMTrigger() override;

    bool HasInputProperty() const override { return true; }
    bool HasOutputProperty() const override { return true; }

    // --- Events --------------------------------------------------------------------------
    // Raised before an error is passed on.
    TMMNotifyEvent OnError;
    // Raised when a buffer cycle failed; Handled true keeps the stream going.
    TMMErrorEvent OnErrorEx;
    // Raised in the user-interface thread.
    TMMNotifyEvent OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;
    // A buffer was loaded from the Input (worker thread, or the starting thread for the first).
    TMMBufferEvent OnBufferFilled;

    // --- Properties ----------------------------------------------------------------------
    // "Change to property while device was open" while open; otherwise at least 32.
    void SetBufferSize(int32_t value) override;
    // Pause between two buffer cycles in milliseconds; 0 lets the cycles follow each other
    // with only a yield of the processor between them.
    int32_t Interval() const { return interval_.load(); }
    void SetInterval(int32_t value) { interval_ = value < 0 ? 0 : value; }
    TMMTimeFormats TimeFormat() const { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }

    // The state set (TMMTriggerStateFlag members); 0 is closed.
    uint32_t State() const { return state_.load(); }
    bool IsTriggerOpen() const { return State() & trsOpen; }
    bool IsTriggerStarted() const { return State() & trsStarted; }
    bool IsTriggerPaused() const { return State() & trsPaused; }
    // Whether the worker thread is held by a pause now (it finished its cycle and waits).
    bool IsWorkerHeld() const;
    // Bytes passed downstream since the start.
    int64_t BytesPassed() const;
    // BytesPassed in TimeFormat units (the format of the stream).
    int64_t Position() const;
    // True when the worker ended on an error that no OnErrorEx handler took; WorkerError is
    // its text. The stop still arrives in the user-interface thread; both stay until the next
    // Open.
    bool WorkerFailed() const { return workerFailed_.load(); }
    std::string WorkerError() const;

    // --- Operations (user-interface thread) -----------------------------------------------
    // Opens the chain and starts the worker thread. EMMTriggerError without a format from the
    // Input or when the thread cannot be started; the trigger is closed then.
    void Open() override;
    // Stops, announces the close to the chain and ends the worker. While a buffer cycle runs,
    // the close completes when its pending stop arrives. Never throws.
    void Close() override;
    // Opens if needed, loads the first buffer and lets the cycles run. EMMTriggerError
    // "TriggerStart: Unable to start device" when the Input delivers nothing (closed then).
    void Start() override;
    void Pause() override;
    void Restart() override;
    // Stops now, or, while a cycle runs, when that cycle has ended (then OnStop follows later).
    void Stop() override;

    // Another driver's walk maps onto the operations above.
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;

    // Closes first when the format really changes.
    void SetPWaveFormat(const WAVEFORMATEX* format) override;

private:
    class Worker;
    friend class Worker;

    void StartWorker();
    void StopWorker();
    // Loads the shared header from the Input; returns its byte count (0 or less clears
    // MoreBuffers).
    int32_t LoadBuffer();
    // One buffer cycle of the worker.
    void Cycle();
    bool Stopping() const;
    bool StopPending() const;
    // Records the error that ends the worker (the first one counts).
    void RecordFailure(const std::string& text);
    // The worker's handler of an error that ended its loop: records it and posts the stop.
    void WorkerFailure(const std::string& text);
    void WindowProc(uint32_t msg);
    void RaiseError();
    // OnError, then close whatever the failed operation had opened.
    void FailAndClose();
    void PostStop();

    std::unique_ptr<MessageWindow> window_;
    std::unique_ptr<Worker> worker_;
    std::vector<std::unique_ptr<Worker>> lostWorkers_;  // did not end in time; joined at destruction
    TMMWaveHdrPtr header_;
    uint32_t headerSize_ = 0;

    mutable std::mutex lock_;    // BytesPassed, Stopping, StopPending, BusyCount, the error text
    int64_t bytesPassed_ = 0;
    int32_t busyCount_ = 0;
    bool stopping_ = false;
    bool stopPending_ = false;
    std::string workerError_;

    std::atomic<uint32_t> state_{0};
    std::atomic<bool> moreBuffers_{false};
    std::atomic<bool> workerFailed_{false};
    std::atomic<int32_t> interval_{0};
    bool closing_ = false;
    bool closePending_ = false;
    bool opening_ = false;
    TMMTimeFormats timeFormat_ = tfByte;
};
