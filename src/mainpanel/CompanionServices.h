#pragma once
#include <memory>
#include <mutex>

#include "mainpanel/CompanionApp.h"
#include "phone/PhoneDetector.h"

// The program's one phone detector, shared by the workers that ask it (an arrival's pass, the
// phone package's install): one read at a time, since the detector builds its list in place.
class CSharedPhoneDetector {
  public:
    explicit CSharedPhoneDetector(std::shared_ptr<CPhoneDetector> detector);
    PhoneList Read();

  private:
    std::mutex mutex_;
    std::shared_ptr<CPhoneDetector> detector_;
};

// The phone side of the companion-app steps for one pass (an arrival, an install): the device
// facts are read once when the pass lists the phones and each record's presence is judged from
// that read; the process list of the system, the bridge tool runner, and real waits. A pass's
// services belong to the thread that runs it.
CompanionServices RealCompanionServices(std::shared_ptr<CSharedPhoneDetector> phones);
// The same over a detector of its own (tests hand in one over a copy of the device tree).
CompanionServices RealCompanionServices(std::shared_ptr<CPhoneDetector> detector);
// Services for each pass, all over one detector of the system's USB devices.
std::function<CompanionServices()> RealCompanionSide();
