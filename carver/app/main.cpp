// photo: the recovery engine's command-line entry point.
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <unistd.h>

#include "carver/contract.h"
#include "core/command_line.h"
#include "core/imaging.h"
#include "core/progress.h"
#include "core/scan.h"
#include "core/types_table.h"

namespace {

std::atomic<bool> g_stop{false};
volatile std::sig_atomic_t g_signal = 0;

void on_signal(int sig) {
    g_signal = sig;
    g_stop.store(true);
}

std::string exe_dir() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string p(buf, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/'));
}

int die(const std::string& msg, int code) {
    std::fprintf(stderr, "photo: %s\n", msg.c_str());
    return code;
}

// Started by the front-end (which names itself in SNAPMEND_PARENT_PID): die
// with it, at once, so that nothing more is written once it is gone.
void tie_to_parent() {
    const char* parent = std::getenv("SNAPMEND_PARENT_PID");
    if (!parent) return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != static_cast<pid_t>(std::atol(parent)))  // already gone
        ::_exit(carver::contract::kExitSignalBase + SIGKILL);
}

// photo /image DEVICE IMAGE MAPFILE: the device copied into IMAGE, its map in MAPFILE.
int copy_first(int argc, char** argv) {
    using namespace carver::contract;
    if (argc != 5) return die("usage: photo /image DEVICE IMAGE MAPFILE", kExitBadInput);
    carver::ImagingOptions opt;
    opt.device = argv[2];
    opt.image = argv[3];
    opt.map = argv[4];
    carver::ImagingResult res = carver::run_imaging(opt, g_stop);
    if (g_signal) return kExitSignalBase + g_signal;
    switch (res.status) {
    case carver::ImagingStatus::Complete: return kExitComplete;
    case carver::ImagingStatus::SomeUnreadable: return kExitSomeUnreadable;
    case carver::ImagingStatus::Stopped: return kExitSignalBase + SIGTERM;
    case carver::ImagingStatus::BadInput: return die(res.message, kExitBadInput);
    case carver::ImagingStatus::OutputFailed: return die(res.message, kExitOutputFailed);
    }
    return kExitOutputFailed;
}

}  // namespace

int main(int argc, char** argv) {
    tie_to_parent();
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    carver::progress().open_from_env(std::getenv(carver::kProgressFdVariable));
    if (argc >= 2 && std::string(argv[1]) == "/image") return copy_first(argc, argv);

    carver::TypeTable table;
    std::string err;
    if (!table.load(exe_dir() + "/" + std::string(carver::contract::kTypesTableName), err))
        return die("cannot read the types table " + err, carver::contract::kExitBadInput);

    carver::Command cmd;
    if (!carver::parse_command_line(std::vector<std::string>(argv + 1, argv + argc), cmd, err))
        return die(err, carver::contract::kExitBadInput);

    carver::ScanOptions opt;
    opt.device = cmd.device;
    opt.out_dir = cmd.out_dir;
    opt.enabled = cmd.enabled;
    opt.table = &table;
    for (int i = 1; i + 1 < argc; ++i)  // what follows /cmd DEVICE: a checkpoint is only taken up by the same command
        if (std::string(argv[i]) == carver::contract::kDeviceSwitch)
            for (int j = i + 2; j < argc; ++j) opt.command += (opt.command.empty() ? "" : " ") + std::string(argv[j]);
    const char* resume = std::getenv("SNAPMEND_RESUME");
    opt.resume = resume && std::string(resume) == "1";
    carver::ScanResult res = carver::run_scan(opt, g_stop);
    if (res.status != carver::ScanStatus::BadInput)
        carver::progress().totals(res.files - res.partial_files, res.partial_files, res.unreadable);
    if (res.unreadable)
        std::fprintf(stderr, "photo: %llu unreadable bytes; the files that touch them are partial\n",
                     static_cast<unsigned long long>(res.unreadable));
    using namespace carver::contract;
    if (g_signal) return kExitSignalBase + g_signal;  // also when the signal broke off opening the device
    switch (res.status) {
    case carver::ScanStatus::Complete: return res.unreadable ? kExitSomeUnreadable : kExitComplete;
    case carver::ScanStatus::Stopped: return kExitSignalBase + SIGTERM;
    case carver::ScanStatus::BadInput: return die(res.message, kExitBadInput);
    case carver::ScanStatus::OutputFailed: return die(res.message, kExitOutputFailed);
    case carver::ScanStatus::ReadFailed: return die(res.message, kExitBadInput);  // the device stopped answering
    }
    return kExitOutputFailed;
}
