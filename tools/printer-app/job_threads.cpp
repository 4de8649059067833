// One job at a time on each printer, whatever PAPPL 1.3's queue check does.
//
// PAPPL 1.3 starts a printer's next job in _papplPrinterCheckJobs, which runs
// in whichever thread submitted a document, finished a job, released a job
// or resumed the printer. It looks at "is the printer processing a job?"
// before it takes the printer's lock, then starts a thread for the first
// pending job without marking anything: the job and the printer become
// "processing" only once that thread runs. Two checks close together (four
// clients submitting at once, or a submission while a job ends) therefore
// start two threads, for the same job or for the next one. Both print
// through the printer's one device, and the first to finish closes and
// frees it (for file: devices after every job) while the other still
// writes: jobs are printed twice or interleaved, writes fail, or the server
// crashes.
//
// The check itself is out of reach, but every thread it starts goes through
// pthread_create, which the dynamic linker looks up in this program first.
// A job's thread (start routine _papplJobProcess) is started through
// runJob: the printer's threads run one after another, and a thread whose
// job is no longer pending when its turn comes (printed by a thread started
// for it earlier, or canceled) ends without touching it. Any other thread is
// started unchanged.
#include <dlfcn.h>
#include <pappl/pappl.h>
#include <pthread.h>

#include <cerrno>

#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

using StartRoutine = void* (*)(void*);
using CreateThread = int (*)(pthread_t*, const pthread_attr_t*, StartRoutine, void*);

CreateThread libcsOwn() {
  static const auto own = reinterpret_cast<CreateThread>(dlsym(RTLD_NEXT, "pthread_create"));
  return own;
}

StartRoutine papplsJobThread() {
  static const auto routine = reinterpret_cast<StartRoutine>(dlsym(RTLD_DEFAULT, "_papplJobProcess"));
  return routine;
}

// One lock per printer (system and printer id), held while a job of that
// printer is processed. Kept for the life of the program: a printer id is
// never reused within a system.
std::mutex& printerTurn(pappl_system_t* system, int printerId) {
  static std::mutex registryLock;
  static std::map<std::pair<pappl_system_t*, int>, std::unique_ptr<std::mutex>> turns;
  const std::lock_guard<std::mutex> registry(registryLock);
  std::unique_ptr<std::mutex>& turn = turns[{system, printerId}];
  if (!turn) turn = std::make_unique<std::mutex>();
  return *turn;
}

struct JobStart {
  StartRoutine process;
  pappl_system_t* system;
  int printerId;
  int jobId;
  std::mutex* turn;
};

void* runJob(void* arg) {
  const std::unique_ptr<JobStart> start(static_cast<JobStart*>(arg));
  const std::lock_guard<std::mutex> myTurn(*start->turn);
  // Looked up again by id: while this thread waited, the job may have been
  // printed, canceled and even deleted.
  pappl_printer_t* printer = papplSystemFindPrinter(start->system, nullptr, start->printerId, nullptr);
  pappl_job_t* job = printer != nullptr ? papplPrinterFindJob(printer, start->jobId) : nullptr;
  if (job == nullptr || papplJobGetState(job) != IPP_JSTATE_PENDING) {
    if (printer != nullptr) {
      papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG,
                      "Job %d is no longer pending; its extra job thread ends.", start->jobId);
    }
    return nullptr;
  }
  return start->process(job);
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, StartRoutine routine,
                              void* arg) noexcept {
  const CreateThread own = libcsOwn();
  if (own == nullptr) return EAGAIN;
  if (routine != papplsJobThread() || arg == nullptr) {
    return own(thread, attr, routine, arg);
  }
  // Called by the queue check with the printer locked: the job and its
  // printer are valid here, and these accessors take no lock.
  auto* job = static_cast<pappl_job_t*>(arg);
  pappl_printer_t* printer = papplJobGetPrinter(job);
  JobStart* start = nullptr;
  try {
    start = new JobStart{routine, papplPrinterGetSystem(printer), papplPrinterGetID(printer),
                         papplJobGetID(job), &printerTurn(papplPrinterGetSystem(printer),
                                                          papplPrinterGetID(printer))};
  } catch (const std::bad_alloc&) {
    return EAGAIN;  // PAPPL aborts the job
  }
  const int error = own(thread, attr, runJob, start);
  if (error != 0) delete start;
  return error;
}
