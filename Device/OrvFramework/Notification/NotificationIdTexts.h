#pragma once
// The id texts that the panel's controls, panels, application and device engine raise. They are
// plain texts: an id exists only once it has been interned (InternNotificationId), in order of
// first use. The spelling is the one peers rely on, "NID_VISIBLITY_CONDITION_CHANGE" included.

namespace Orv {

inline constexpr char16_t NID_APP_EXIT_REQ[] = u"NID_APP_EXIT_REQ";
inline constexpr char16_t NID_BUFFER_SIZE_CHANGE[] = u"NID_BUFFER_SIZE_CHANGE";
inline constexpr char16_t NID_BUTTON_AUTOREPEAT[] = u"NID_BUTTON_AUTOREPEAT";
inline constexpr char16_t NID_CAPTURE_CONDITION_CHANGE[] = u"NID_CAPTURE_CONDITION_CHANGE";
inline constexpr char16_t NID_CLIENT_EXTENT_CHANGE[] = u"NID_CLIENT_EXTENT_CHANGE";
inline constexpr char16_t NID_CLIPLIGHT_UNLATCHED[] = u"NID_CLIPLIGHT_UNLATCHED";
inline constexpr char16_t NID_CONDITION_CHANGE[] = u"NID_CONDITION_CHANGE";
inline constexpr char16_t NID_CONTAINS_FOCUS_CONDITION_CHANGE[] =
    u"NID_CONTAINS_FOCUS_CONDITION_CHANGE";
inline constexpr char16_t NID_DEVICE_CONNECTION_STATE_CHANGE[] =
    u"NID_DEVICE_CONNECTION_STATE_CHANGE";
inline constexpr char16_t NID_DIALOG_CLOSED[] = u"NID_DIALOG_CLOSED";
inline constexpr char16_t NID_DIALOG_CLOSING[] = u"NID_DIALOG_CLOSING";
inline constexpr char16_t NID_DROPDOWN_OPENING[] = u"NID_DROPDOWN_OPENING";
inline constexpr char16_t NID_EDIT_COPY_REQ[] = u"NID_EDIT_COPY_REQ";
inline constexpr char16_t NID_EDIT_CUT_REQ[] = u"NID_EDIT_CUT_REQ";
inline constexpr char16_t NID_EDIT_DELETE_REQ[] = u"NID_EDIT_DELETE_REQ";
inline constexpr char16_t NID_EDIT_PASTE_REQ[] = u"NID_EDIT_PASTE_REQ";
inline constexpr char16_t NID_ENABLED_CONDITION_CHANGE[] = u"NID_ENABLED_CONDITION_CHANGE";
inline constexpr char16_t NID_HAS_FOCUS_CONDITION_CHANGE[] = u"NID_HAS_FOCUS_CONDITION_CHANGE";
inline constexpr char16_t NID_HOVER_CONDITION_CHANGE[] = u"NID_HOVER_CONDITION_CHANGE";
inline constexpr char16_t NID_IDLE[] = u"NID_IDLE";
inline constexpr char16_t NID_ITEM_ACTIVATED[] = u"NID_ITEM_ACTIVATED";
inline constexpr char16_t NID_ITEM_CHECKBOX_CLICKED[] = u"NID_ITEM_CHECKBOX_CLICKED";
inline constexpr char16_t NID_ITEM_CHECK_CHANGE[] = u"NID_ITEM_CHECK_CHANGE";
inline constexpr char16_t NID_ITEM_DOUBLE_CLICKED[] = u"NID_ITEM_DOUBLE_CLICKED";
inline constexpr char16_t NID_ITEM_HOVER_CONDITION_CHANGE[] = u"NID_ITEM_HOVER_CONDITION_CHANGE";
inline constexpr char16_t NID_ITEM_LEFT_DRAG_CONDITION_CHANGE[] =
    u"NID_ITEM_LEFT_DRAG_CONDITION_CHANGE";
inline constexpr char16_t NID_ITEM_RIGHT_CLICK[] = u"NID_ITEM_RIGHT_CLICK";
inline constexpr char16_t NID_LEFT_CLICK[] = u"NID_LEFT_CLICK";
inline constexpr char16_t NID_LEFT_DRAG_CONDITION_CHANGE[] = u"NID_LEFT_DRAG_CONDITION_CHANGE";
inline constexpr char16_t NID_MIDDLE_CLICK[] = u"NID_MIDDLE_CLICK";
inline constexpr char16_t NID_MIDDLE_DRAG_CONDITION_CHANGE[] = u"NID_MIDDLE_DRAG_CONDITION_CHANGE";
inline constexpr char16_t NID_MOUSE_DOWN[] = u"NID_MOUSE_DOWN";
inline constexpr char16_t NID_MOUSE_MOVE[] = u"NID_MOUSE_MOVE";
inline constexpr char16_t NID_MOUSE_UP[] = u"NID_MOUSE_UP";
inline constexpr char16_t NID_PARAM_MODULE_CHANGE_REQ[] = u"NID_PARAM_MODULE_CHANGE_REQ";
inline constexpr char16_t NID_PARAM_MODULE_STATE_CHANGE[] = u"NID_PARAM_MODULE_STATE_CHANGE";
inline constexpr char16_t NID_REMOTE_DEVICE_LIST_CHANGE[] = u"NID_REMOTE_DEVICE_LIST_CHANGE";
inline constexpr char16_t NID_RIGHT_CLICK[] = u"NID_RIGHT_CLICK";
inline constexpr char16_t NID_RIGHT_DRAG_CONDITION_CHANGE[] = u"NID_RIGHT_DRAG_CONDITION_CHANGE";
inline constexpr char16_t NID_SAMPLE_RATE_CHANGE[] = u"NID_SAMPLE_RATE_CHANGE";
inline constexpr char16_t NID_SAMPLE_RATE_CHANGED[] = u"NID_SAMPLE_RATE_CHANGED";
inline constexpr char16_t NID_SCROLL_OFFSET_CHANGE[] = u"NID_SCROLL_OFFSET_CHANGE";
inline constexpr char16_t NID_SELECTION_CHANGE[] = u"NID_SELECTION_CHANGE";
inline constexpr char16_t NID_SET_STATUS_TEXT[] = u"NID_SET_STATUS_TEXT";
inline constexpr char16_t NID_SIBLING_KEY[] = u"NID_SIBLING_KEY";
inline constexpr char16_t NID_SIMULATE_CLICK[] = u"NID_SIMULATE_CLICK";
inline constexpr char16_t NID_TAB_SELECTED[] = u"NID_TAB_SELECTED";
inline constexpr char16_t NID_TEXTBOX_TEXT_CHANGE[] = u"NID_TEXTBOX_TEXT_CHANGE";
inline constexpr char16_t NID_TEXTBOX_VALIDATED[] = u"NID_TEXTBOX_VALIDATED";
inline constexpr char16_t NID_TEXTBOX_VALIDATING[] = u"NID_TEXTBOX_VALIDATING";
inline constexpr char16_t NID_VALUE_CHANGE[] = u"NID_VALUE_CHANGE";
inline constexpr char16_t NID_VALUE_CHANGE_CAPTURE[] = u"NID_VALUE_CHANGE_CAPTURE";
inline constexpr char16_t NID_VALUE_CHANGE_KEY_DOWN[] = u"NID_VALUE_CHANGE_KEY_DOWN";
inline constexpr char16_t NID_VALUE_CHANGE_KEY_UP[] = u"NID_VALUE_CHANGE_KEY_UP";
inline constexpr char16_t NID_VISIBLITY_CONDITION_CHANGE[] = u"NID_VISIBLITY_CONDITION_CHANGE";

}  // namespace Orv
