// Names of everything a broker shares with its applications, built from the
// broker name N and, for a connection's objects, the slot index i in
// decimal. Each goes through the per-user namespace of platform/shared_name.h.
//
//   instance list        N          shared memory, 124000 bytes (broker)
//   instance-list lock   "%sSHARE"  named mutex (create-or-open)
//   broker-start lock    "ZTBROKERRUNNER"
//   receive queue        "%sR%d"    shared memory, 504008 bytes (broker)
//   send queue           "%sS%d"    shared memory, 506008 bytes (broker)
//   receive-queue lock   "%sRM%d"   named mutex
//   send-queue lock      "%sSM%d"   named mutex
//   lifetime lock file   "<runtime dir>/<N>.lock", flock held by the broker
//
// The %s of the queue names is the slot's name field, which the broker sets
// to N. The broker program is started as "ZTBROKER.DLL N SHOW|HIDE".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

inline constexpr char kBrokerStartLockName[] = "ZTBROKERRUNNER";
inline constexpr char kBrokerProgramName[] = "ZTBROKER.DLL";
inline constexpr char kViewerBrokerName[] = "ZTVLVIEW_BROKER";
inline constexpr char kBrokerShowArgument[] = "SHOW";
inline constexpr char kBrokerHideArgument[] = "HIDE";
// Environment variable naming the program started instead of ZTBROKER.DLL
// (a path, or a file name looked up like ZTBROKER.DLL). Meant for tests.
inline constexpr char kBrokerProgramVariable[] = "ZTIF_BROKER_PROGRAM";

// A usable broker name: 1 to 29 printable ASCII characters. When refused,
// `why` (if given) receives a sentence saying why.
bool CheckBrokerName(std::string_view name, std::string* why = nullptr);

std::string InstanceListLockName(std::string_view name);
std::string ReceiveQueueName(std::string_view name, int32_t slot);
std::string SendQueueName(std::string_view name, int32_t slot);
std::string ReceiveQueueLockName(std::string_view name, int32_t slot);
std::string SendQueueLockName(std::string_view name, int32_t slot);
// The lock file's name in the runtime directory; characters that the
// shared-object names replace are replaced here too, so no name can reach
// outside the directory.
std::string BrokerLockFileName(std::string_view name);

}  // namespace velmora
