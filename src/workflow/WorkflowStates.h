#pragma once

namespace PelkPlus {

// The object names of the workflow's states, for the faces that add regions or assignments to
// them and for the tests that follow the machine. UpdateWorkflow::state() finds a state by one of
// these; a name that is not here is a programming error.
namespace WorkflowStates {

inline constexpr char regions[] = "regions";
inline constexpr char deviceRegion[] = "deviceRegion";
inline constexpr char noDeviceState[] = "noDeviceState";
inline constexpr char connectingState[] = "connectingState";
inline constexpr char deviceReadyState[] = "deviceReadyState";
inline constexpr char workflowRegion[] = "workflowRegion";
inline constexpr char promptConnectState[] = "promptConnectState";
inline constexpr char promptWaitState[] = "promptWaitState";
inline constexpr char promptReplugState[] = "promptReplugState";
inline constexpr char activeDeviceState[] = "activeDeviceState";
inline constexpr char selectionState[] = "selectionState";
inline constexpr char idleState[] = "idleState";
inline constexpr char nothingToInstallState[] = "nothingToInstallState";
inline constexpr char readyToInstallState[] = "readyToInstallState";
inline constexpr char checkingState[] = "checkingState";
inline constexpr char fetchManifestState[] = "fetchManifestState";
inline constexpr char planUpdateState[] = "planUpdateState";
inline constexpr char fetchManifestForceState[] = "fetchManifestForceState";
inline constexpr char planForceInstallState[] = "planForceInstallState";
inline constexpr char updatingState[] = "updatingState";
inline constexpr char nextComponentState[] = "nextComponentState";
inline constexpr char downloadingState[] = "downloadingState";
inline constexpr char downloadAllState[] = "downloadAllState";
inline constexpr char awaitUpdateModeState[] = "awaitUpdateModeState";
inline constexpr char installingState[] = "installingState";
inline constexpr char installFailedState[] = "installFailedState";
inline constexpr char awaitFinishState[] = "awaitFinishState";
inline constexpr char rebootTimeoutState[] = "rebootTimeoutState";
inline constexpr char awaitRebootState[] = "awaitRebootState";
inline constexpr char appUpdateRegion[] = "appUpdateRegion";
inline constexpr char appCheckIdleState[] = "appCheckIdleState";
inline constexpr char appCheckRunningState[] = "appCheckRunningState";
inline constexpr char appCheckDoneState[] = "appCheckDoneState";
inline constexpr char appUpdateAcceptedState[] = "appUpdateAcceptedState";
inline constexpr char appCheckFailedState[] = "appCheckFailedState";

} // namespace WorkflowStates

} // namespace PelkPlus
