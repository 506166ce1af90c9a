//! The system state watchdog's client library for Rust: protect the desktop before changing it,
//! end the protection on a clean exit, and the watchdog puts the desktop back after a crash.
//!
//! A safe layer over [`sys`], the C API of `system-state-watchdog-client.dll`: every call returns
//! a [`Result`] whose [`Error`] carries the library's status and message, paths are `&Path` and
//! texts `&str` (handed to the library as UTF-8), and what the library hands out is owned by a
//! value that releases it when dropped.

pub mod sys;

use std::ffi::{CStr, CString};
use std::fmt;
use std::os::raw::c_char;
use std::path::Path;
use std::ptr;

/// What went wrong, as the library's `ssw_status` says it. The numbers are the C API's.
#[derive(Debug, Clone, Copy, PartialEq, Eq)]
pub enum Status {
    Failed,
    InvalidArgument,
    MarkerUnsettled,
    NoMarker,
    LeftToLiveRun,
    OtherSession,
    LauncherFailed,
    LauncherNotStarted,
    BufferTooSmall,
    /// A status that this binding does not know (a newer library).
    Other(i32),
}

impl Status {
    fn from_raw(status: sys::ssw_status) -> Status {
        match status {
            sys::SSW_FAILED => Status::Failed,
            sys::SSW_INVALID_ARGUMENT => Status::InvalidArgument,
            sys::SSW_MARKER_UNSETTLED => Status::MarkerUnsettled,
            sys::SSW_NO_MARKER => Status::NoMarker,
            sys::SSW_LEFT_TO_LIVE_RUN => Status::LeftToLiveRun,
            sys::SSW_OTHER_SESSION => Status::OtherSession,
            sys::SSW_LAUNCHER_FAILED => Status::LauncherFailed,
            sys::SSW_LAUNCHER_NOT_STARTED => Status::LauncherNotStarted,
            sys::SSW_BUFFER_TOO_SMALL => Status::BufferTooSmall,
            other => Status::Other(other),
        }
    }
}

/// A failed call: its status and the library's message (UTF-8, in Chinese like the recovery log).
#[derive(Debug, Clone, PartialEq, Eq)]
pub struct Error {
    pub status: Status,
    pub message: String,
    /// The launcher's exit code, when starting the watchdog failed after the launcher ended.
    pub launcher_exit_code: Option<u32>,
}

impl fmt::Display for Error {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        write!(f, "{:?}: {}", self.status, self.message)
    }
}

impl std::error::Error for Error {}

pub type Result<T> = std::result::Result<T, Error>;

/// The items to record, or-ed together.
#[derive(Debug, Clone, Copy, PartialEq, Eq)]
pub struct Items(u32);

impl Items {
    pub const TASKBAR: Items = Items(sys::SSW_ITEM_TASKBAR);
    pub const DESKTOP_ICONS: Items = Items(sys::SSW_ITEM_DESKTOP_ICONS);
    pub const BOTH: Items = Items(sys::SSW_ITEM_TASKBAR | sys::SSW_ITEM_DESKTOP_ICONS);
}

impl std::ops::BitOr for Items {
    type Output = Items;
    fn bitor(self, other: Items) -> Items {
        Items(self.0 | other.0)
    }
}

/// What `finish_cleanly` found at the path.
#[derive(Debug, Clone, Copy, PartialEq, Eq)]
pub enum Finished {
    MarkerRemoved,
    NoMarker,
    /// Another session's marker, left as it is.
    MarkerOfAnotherSession,
}

/// What `settle_leftover_marker` found at the path.
#[derive(Debug, Clone, Copy, PartialEq, Eq)]
pub enum Settled {
    NoMarker,
    /// The marker's items are back and the marker is gone.
    Restored,
}

/// What `discard_leftover_marker` found at the path.
#[derive(Debug, Clone, Copy, PartialEq, Eq)]
pub enum Discarded {
    Discarded,
    NoMarker,
}

// Room for every message the library writes; a longer one is cut between characters.
const MESSAGE_SIZE: usize = 2048;

// The C API's own words for a text it cannot take, used for what cannot reach it either: a path
// that is not Unicode, or a text with a zero inside.
const NOT_A_TEXT: &str = "参数为空或不是有效的 UTF-8";

fn not_a_text() -> Error {
    Error {
        status: Status::InvalidArgument,
        message: NOT_A_TEXT.to_string(),
        launcher_exit_code: None,
    }
}

fn text(value: &str) -> Result<CString> {
    CString::new(value).map_err(|_| not_a_text())
}

fn path(value: &Path) -> Result<CString> {
    value.to_str().ok_or_else(not_a_text).and_then(text)
}

fn optional_path(value: Option<&Path>) -> Result<Option<CString>> {
    value.map(path).transpose()
}

fn as_ptr(value: &Option<CString>) -> *const c_char {
    value.as_ref().map_or(ptr::null(), |value| value.as_ptr())
}

fn until_zero(buffer: &[u8]) -> String {
    let end = buffer
        .iter()
        .position(|&byte| byte == 0)
        .unwrap_or(buffer.len());
    String::from_utf8_lossy(&buffer[..end]).into_owned()
}

/// Calls `call` with a message buffer; its status becomes the result.
fn call(call: impl FnOnce(*mut c_char, usize) -> sys::ssw_status) -> Result<sys::ssw_status> {
    let mut message = [0u8; MESSAGE_SIZE];
    let status = call(message.as_mut_ptr().cast(), message.len());
    match status {
        sys::SSW_OK => Ok(status),
        _ => Err(Error {
            status: Status::from_raw(status),
            message: until_zero(&message),
            launcher_exit_code: None,
        }),
    }
}

/// Turns the statuses that are outcomes of a call (no marker, another session) into values.
fn outcome<T>(result: Result<sys::ssw_status>, outcomes: &[(Status, T)], done: T) -> Result<T>
where
    T: Copy,
{
    match result {
        Ok(_) => Ok(done),
        Err(error) => outcomes
            .iter()
            .find(|(status, _)| *status == error.status)
            .map(|(_, value)| *value)
            .ok_or(error),
    }
}

fn session_id_from(fill: impl FnOnce(*mut c_char, usize) -> sys::ssw_status) -> Result<String> {
    let mut buffer = [0u8; sys::SSW_SESSION_ID_SIZE];
    match fill(buffer.as_mut_ptr().cast(), buffer.len()) {
        sys::SSW_OK => Ok(until_zero(&buffer)),
        status => Err(Error {
            status: Status::from_raw(status),
            message: String::new(),
            launcher_exit_code: None,
        }),
    }
}

/// The desktop as recorded; released when dropped.
pub struct Recorded {
    raw: *mut sys::ssw_recorded,
}

impl Drop for Recorded {
    fn drop(&mut self) {
        unsafe { sys::ssw_recorded_free(self.raw) }
    }
}

/// A protected run. Until it ends, the run counts as alive to every other instance. Dropping it
/// ends it as [`Protection::end`] does (the desktop is put back, the marker goes), with the
/// outcome unseen: the C API has no other way to release it.
pub struct Protection {
    raw: *mut sys::ssw_protection,
}

impl Protection {
    /// The protected run's session id.
    pub fn session_id(&self) -> Result<String> {
        session_id_from(|buffer, size| unsafe {
            sys::ssw_protection_session_id(self.raw, buffer, size)
        })
    }

    /// The clean exit: restores the recorded items, then removes the marker (it stays when the
    /// restore failed, for the watchdog or the next start).
    pub fn end(self) -> Result<()> {
        let raw = self.raw;
        std::mem::forget(self);
        call(|message, size| unsafe { sys::ssw_end_protection(raw, message, size) }).map(|_| ())
    }
}

impl Drop for Protection {
    fn drop(&mut self) {
        unsafe { sys::ssw_end_protection(self.raw, ptr::null_mut(), 0) };
    }
}

/// Everything the start needs: settles a marker left behind, makes a new session, records
/// `items`, writes the marker and starts the watchdog (`None`: `system-state-watchdog.exe`
/// beside this program). A failure after the marker was written removes it again.
pub fn protect_desktop(
    marker_path: &Path,
    items: Items,
    watchdog_executable: Option<&Path>,
) -> Result<Protection> {
    let (marker, watchdog) = (path(marker_path)?, optional_path(watchdog_executable)?);
    let mut raw = ptr::null_mut();
    call(|message, size| unsafe {
        sys::ssw_protect_desktop(
            marker.as_ptr(),
            items.0,
            as_ptr(&watchdog),
            &mut raw,
            message,
            size,
        )
    })?;
    Ok(Protection { raw })
}

/// As [`protect_desktop`] (which waits at most 10 s for the shell's windows), waiting at most
/// `wait_for_shell_ms` for the shell to put them up: a start at logon may come before it has.
pub fn protect_desktop_within(
    marker_path: &Path,
    items: Items,
    watchdog_executable: Option<&Path>,
    wait_for_shell_ms: u32,
) -> Result<Protection> {
    let (marker, watchdog) = (path(marker_path)?, optional_path(watchdog_executable)?);
    let mut raw = ptr::null_mut();
    call(|message, size| unsafe {
        sys::ssw_protect_desktop_within(
            marker.as_ptr(),
            items.0,
            as_ptr(&watchdog),
            wait_for_shell_ms,
            &mut raw,
            message,
            size,
        )
    })?;
    Ok(Protection { raw })
}

/// As [`record_desktop`], once the shell shows the items: waiting at most `wait_for_shell_ms`.
pub fn record_desktop_within(
    marker_path: &Path,
    items: Items,
    session_id: &str,
    wait_for_shell_ms: u32,
) -> Result<Recorded> {
    let (marker, session) = (path(marker_path)?, text(session_id)?);
    let mut raw = ptr::null_mut();
    call(|message, size| unsafe {
        sys::ssw_record_desktop_within(
            marker.as_ptr(),
            items.0,
            session.as_ptr(),
            wait_for_shell_ms,
            &mut raw,
            message,
            size,
        )
    })?;
    Ok(Recorded { raw })
}

/// A session id that no other run has had.
pub fn new_session_id() -> Result<String> {
    session_id_from(|buffer, size| unsafe { sys::ssw_new_session_id(buffer, size) })
}

/// Records the named items now; refuses (`MarkerUnsettled`) while a marker is at the path.
pub fn record_desktop(marker_path: &Path, items: Items, session_id: &str) -> Result<Recorded> {
    let (marker, session) = (path(marker_path)?, text(session_id)?);
    let mut raw = ptr::null_mut();
    call(|message, size| unsafe {
        sys::ssw_record_desktop(
            marker.as_ptr(),
            items.0,
            session.as_ptr(),
            &mut raw,
            message,
            size,
        )
    })?;
    Ok(Recorded { raw })
}

/// Writes the marker without ever leaving half of one at the path.
pub fn write_marker(marker_path: &Path, recorded: &Recorded) -> Result<()> {
    let marker = path(marker_path)?;
    call(|message, size| unsafe {
        sys::ssw_write_marker(marker.as_ptr(), recorded.raw, message, size)
    })
    .map(|_| ())
}

/// Starts the watchdog for this process and waits for its launcher; returns the launcher's exit
/// code.
pub fn start_watchdog(
    watchdog_executable: Option<&Path>,
    session_id: &str,
    marker_path: &Path,
) -> Result<u32> {
    let (watchdog, session, marker) = (
        optional_path(watchdog_executable)?,
        text(session_id)?,
        path(marker_path)?,
    );
    let mut exit_code = u32::MAX;
    let result = call(|message, size| unsafe {
        sys::ssw_start_watchdog(
            as_ptr(&watchdog),
            session.as_ptr(),
            marker.as_ptr(),
            &mut exit_code,
            message,
            size,
        )
    });
    match result {
        Ok(_) => Ok(exit_code),
        Err(error) if error.status == Status::LauncherFailed && exit_code != u32::MAX => {
            Err(Error {
                launcher_exit_code: Some(exit_code),
                ..error
            })
        }
        Err(error) => Err(error),
    }
}

/// Puts back in this process what was recorded, for a clean exit.
pub fn restore_desktop(recorded: &Recorded) -> Result<()> {
    call(|message, size| unsafe { sys::ssw_restore_desktop(recorded.raw, message, size) })
        .map(|_| ())
}

/// Removes the marker after a clean exit, only while it holds this session.
pub fn finish_cleanly(marker_path: &Path, session_id: &str) -> Result<Finished> {
    let (marker, session) = (path(marker_path)?, text(session_id)?);
    let result = call(|message, size| unsafe {
        sys::ssw_finish_cleanly(marker.as_ptr(), session.as_ptr(), message, size)
    });
    let outcomes = [
        (Status::NoMarker, Finished::NoMarker),
        (Status::OtherSession, Finished::MarkerOfAnotherSession),
    ];
    outcome(result, &outcomes, Finished::MarkerRemoved)
}

/// Restores a marker left behind, as the watchdog would have (waiting up to 10 s for a watcher
/// that is still restoring it); a marker that cannot be settled stays.
pub fn settle_leftover_marker(marker_path: &Path) -> Result<Settled> {
    let marker = path(marker_path)?;
    let result = call(|message, size| unsafe {
        sys::ssw_settle_leftover_marker(marker.as_ptr(), message, size)
    });
    outcome(
        result,
        &[(Status::NoMarker, Settled::NoMarker)],
        Settled::Restored,
    )
}

/// As [`settle_leftover_marker`], waiting at most `wait_for_watcher_ms` for a watcher.
pub fn settle_leftover_marker_within(
    marker_path: &Path,
    wait_for_watcher_ms: u32,
) -> Result<Settled> {
    let marker = path(marker_path)?;
    let result = call(|message, size| unsafe {
        sys::ssw_settle_leftover_marker_within(marker.as_ptr(), wait_for_watcher_ms, message, size)
    });
    outcome(
        result,
        &[(Status::NoMarker, Settled::NoMarker)],
        Settled::Restored,
    )
}

/// As [`settle_leftover_marker_within`], waiting at most `wait_for_shell_ms` for the shell to put
/// up the windows the marker records (10 s in the other two).
pub fn settle_leftover_marker_waiting(
    marker_path: &Path,
    wait_for_watcher_ms: u32,
    wait_for_shell_ms: u32,
) -> Result<Settled> {
    let marker = path(marker_path)?;
    let result = call(|message, size| unsafe {
        sys::ssw_settle_leftover_marker_waiting(
            marker.as_ptr(),
            wait_for_watcher_ms,
            wait_for_shell_ms,
            message,
            size,
        )
    });
    outcome(
        result,
        &[(Status::NoMarker, Settled::NoMarker)],
        Settled::Restored,
    )
}

/// Deletes a marker that cannot be settled, by the caller's explicit choice, and logs it.
pub fn discard_leftover_marker(marker_path: &Path) -> Result<Discarded> {
    let marker = path(marker_path)?;
    let result = call(|message, size| unsafe {
        sys::ssw_discard_leftover_marker(marker.as_ptr(), message, size)
    });
    outcome(
        result,
        &[(Status::NoMarker, Discarded::NoMarker)],
        Discarded::Discarded,
    )
}

/// The version of the client DLL this program runs with, "major.minor.patch", for its log.
pub fn library_version() -> &'static str {
    // The DLL's own static text, alive as long as the DLL, which is never unloaded.
    let version = unsafe { CStr::from_ptr(sys::ssw_library_version()) };
    version.to_str().unwrap_or_default()
}
