#ifndef TESTS_FAKE_SERVICE_MANAGER_H
#define TESTS_FAKE_SERVICE_MANAGER_H

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

// Recording stand-in for the service dispatcher, status reports and service
// database, linked into test programs in place of the real functions. It
// keeps the real manager's rules that the programs depend on:
// - StartServiceCtrlDispatcherA runs entry 0's service procedure on a thread
//   of its own and delivers the queued controls on the calling thread, one at
//   a time, only once the service has left start pending; controls that the
//   service does not accept never reach its handler. It returns TRUE once the
//   service reported stopped (or the service procedure ended, no control is
//   left to deliver and no stop is pending, where the real manager would
//   wait on).
// - The database refuses a second service of a name, a service marked for
//   deletion, and removes a deleted service once its last handle is closed.
// Every call can also be told to fail with a given error code.
namespace FakeServiceManager {

enum class Call {
    Dispatcher,             // StartServiceCtrlDispatcherA
    RegisterHandler,        // RegisterServiceCtrlHandlerA and RegisterServiceCtrlHandlerExA
    SetStatus,              // SetServiceStatus
    OpenManager,            // OpenSCManagerA
    CreateService,          // CreateServiceA
    OpenService,            // OpenServiceA
    DeleteService,          // DeleteService
    QueryConfig,            // QueryServiceConfigA
    ChangePreshutdownInfo,  // ChangeServiceConfig2A with SERVICE_CONFIG_PRESHUTDOWN_INFO
    ChangeSidInfo,          // ChangeServiceConfig2A with SERVICE_CONFIG_SERVICE_SID_INFO
    QueryConfig2,           // QueryServiceConfig2A
    QueryStatus,            // QueryServiceStatus
};

// A nullable narrow string argument.
struct TextArgument {
    bool isNull;
    std::string text;
};

struct DispatchTableRecord {
    std::vector<std::string> serviceNames;  // the entries before the terminating one
    bool terminated;                        // a both-null entry ends the table
};

struct HandlerRegistration {
    std::string serviceName;
    std::thread::id thread;
};

struct StatusReport {
    bool validHandle;
    SERVICE_STATUS status;
    std::thread::id thread;
    std::string observation;  // what the OnStatusReport observer returned
};

struct ControlDelivery {
    DWORD control;
    bool delivered;  // the handler was called
    DWORD refusal;   // the error the manager answered with when it was not
    std::thread::id thread;
    DWORD handlerResult = 0;  // what an extended handler returned
};

struct OpenManagerCall {
    TextArgument machineName;
    TextArgument databaseName;
    DWORD desiredAccess;
};

struct CreateServiceCall {
    bool validManager;
    TextArgument serviceName;
    TextArgument displayName;
    DWORD desiredAccess;
    DWORD serviceType;
    DWORD startType;
    DWORD errorControl;
    TextArgument binaryPathName;
    TextArgument loadOrderGroup;
    bool tagIdRequested;
    TextArgument dependencies;
    TextArgument serviceStartName;
    TextArgument password;
};

struct OpenServiceCall {
    bool validManager;
    TextArgument serviceName;
    DWORD desiredAccess;
};

struct RegisteredService {
    std::string name;
    std::string displayName;
    std::string binaryPathName;
    DWORD serviceType;
    DWORD startType;
    bool markedForDeletion;
    std::string account = "LocalSystem";  // the start name; CreateServiceA's null means LocalSystem
    DWORD preshutdownTimeout = 10000;     // ms; the default from Windows 10 version 1703 on
    DWORD sidType = SERVICE_SID_TYPE_NONE;
    // The state QueryServiceStatus tells.
    DWORD currentState = SERVICE_STOPPED;
};

// One ChangeServiceConfig2A call: the rights of its handle (its OpenServiceA
// or CreateServiceA access; 0 for no service handle), the level and the one
// number its record holds.
struct ConfigChange {
    DWORD handleRights;
    DWORD infoLevel;
    DWORD value;
};

void Reset();

// Makes the call fail with the error from now on (until Reset).
void Refuse(Call call, DWORD error);

// Controls that the next dispatcher run sends to the service, in order.
void QueueControls(const std::vector<DWORD>& controls);

// From now on the queued controls reach the handler whatever the service
// accepts, as controls do that were checked against an earlier report.
void DeliverUnacceptedControls();

// Called on the reporting thread at each status report, before the manager
// takes note of the report (so before it can send the next control); what it
// returns is kept with the report.
void OnStatusReport(std::function<std::string(const SERVICE_STATUS&)> observer);

// A service that exists in the database before the test.
void AddService(const RegisteredService& service);

std::vector<DispatchTableRecord> DispatchTables();
std::vector<HandlerRegistration> HandlerRegistrations();
std::vector<StatusReport> StatusReports();
std::vector<ControlDelivery> ControlDeliveries();
std::vector<OpenManagerCall> OpenManagerCalls();
std::vector<CreateServiceCall> CreateServiceCalls();
std::vector<OpenServiceCall> OpenServiceCalls();
int DeleteServiceCalls();
// The rights of each handle QueryServiceConfigA was called with (the handle's
// OpenServiceA access), in order.
std::vector<DWORD> QueryConfigCalls();
std::vector<ConfigChange> ConfigChanges();
std::vector<RegisteredService> Services();
// Service handles (not manager handles) handed out and not yet closed.
int OpenServiceHandles();
int OpenManagerHandles();
// The thread the service procedure ran on in the last dispatcher run.
std::thread::id ServiceThread();

}  // namespace FakeServiceManager

#endif
