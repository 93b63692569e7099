// The fixed texts and captions of the editor's refusals and questions, in one place so the
// dialogs and their tests agree on every word.
#pragma once

#include <string_view>

namespace tenvar::editor {

// What a message box offers: OK alone, or a Yes/No question.
enum class MessageKind { Information, Refusal, Question };

struct EditorMessage {
  MessageKind Kind;
  std::string_view Text;
  std::string_view Caption;

  bool operator==(const EditorMessage&) const = default;
};

inline constexpr EditorMessage kDialupMissing{
    MessageKind::Information,
    "Dial-up networking is not installed on this machine, any related options will be disabled",
    "Information"};
inline constexpr EditorMessage kDialFieldsMissing{
    MessageKind::Refusal,
    "You have selected to dial a connection to the Internet but have not populated all the "
    "related fields.\nPlease correct this before continuing",
    "Cannot continue"};
inline constexpr EditorMessage kNoProxyInstances{
    MessageKind::Question,
    "You have not configured any HTTP proxy instances, are you sure you wish to continue?",
    "Confirm action"};
inline constexpr EditorMessage kLoadIncomplete{
    MessageKind::Question,
    "The configuration file could not be read to its end, so this dialog does not show all of "
    "it.\nSaving will replace the whole file with what is shown here. Are you sure you wish to "
    "continue?",
    "Confirm action"};
inline constexpr std::string_view kOpenFailedText =
    "Could not open configuration file. Check that Tenvar isn't running";
inline constexpr std::string_view kOpenFailedCaption = "Error";
inline constexpr std::string_view kErrorNumberCaption = "OK";
inline constexpr std::string_view kWriteFailedCaption = "Error";

inline constexpr EditorMessage kNoCachePath{
    MessageKind::Refusal,
    "You have no cache path specified, please enter a cache path then try again",
    "Cannot perform operation"};
// %s: the cache folder.
inline constexpr std::string_view kFlushQuestion =
    "This will delete all files and subdirectories in folder: %s.\nAre you sure you wish to "
    "continue?";
inline constexpr std::string_view kConfirmOperation = "Confirm operation";
inline constexpr EditorMessage kCloseQuestion{
    MessageKind::Question,
    "Closing without saving will lose any changes that you may have made.\nAre you sure you "
    "with to exit?",
    "Confirm operation"};

inline constexpr EditorMessage kNoInstanceSelected{
    MessageKind::Refusal, "You must first select an instance to edit", "Cannot continue"};
inline constexpr std::string_view kDeleteInstanceQuestion =
    "Are you sure you want to delete the proxy instance called: %s?";
inline constexpr EditorMessage kNoTunnelSelected{
    MessageKind::Refusal, "You must first select an IP tunnel to edit", "Cannot continue"};
inline constexpr std::string_view kDeleteTunnelQuestion =
    "Are you sure you want to delete the IP tunnel listening on port: %s?";

inline constexpr EditorMessage kInstanceNameMissing{
    MessageKind::Refusal, "You must specify a name for this proxy instance", "Cannot continue"};
inline constexpr EditorMessage kInstancePortMissing{
    MessageKind::Refusal, "You must specify a port to listen to", "Cannot continue"};
inline constexpr EditorMessage kBlockFileMissing{
    MessageKind::Refusal,
    "You have selected to use advanced blocking but have not specified a block file.\nPlease "
    "uncheck the check box or populate the block file field.",
    "Cannot continue"};
inline constexpr EditorMessage kUpstreamMissing{
    MessageKind::Refusal,
    "You have selected to use an upstream proxy but have not specified the settings for your "
    "upstream server.\nPlease uncheck the check box or populate the necessary fields.",
    "Cannot continue"};
inline constexpr EditorMessage kInstancePortTaken{
    MessageKind::Refusal,
    "You already have a proxy instance listening to the port specified. Please enter a "
    "different port.",
    "Cannot create profile"};

inline constexpr EditorMessage kTunnelListenMissing{
    MessageKind::Refusal, "You must specify a port to listen to", "Cannot continue"};
inline constexpr EditorMessage kTunnelPortMissing{
    MessageKind::Refusal, "You must specify a port to connect to", "Cannot continue"};
inline constexpr EditorMessage kTunnelServerMissing{
    MessageKind::Refusal, "You must specify the name or address of a server to connect to",
    "Cannot continue"};

}  // namespace tenvar::editor
