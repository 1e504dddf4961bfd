//! rust_ping: asks the Vemlox service whether it is there, written from docs/protocol.md with
//! nothing but the standard library and the Win32 calls it declares. Prints "ping: ok" and exits
//! 0 for an ok response; prints why not and exits 1. The service answers only the app's own
//! executables in its install folder, so this program must run from there as vemlox-app.exe.

use std::ffi::c_void;
use std::fs::{File, OpenOptions};
use std::io;
use std::os::windows::fs::OpenOptionsExt;
use std::os::windows::io::AsRawHandle;
use std::process::ExitCode;
use std::ptr::null_mut;
use std::thread::sleep;
use std::time::{Duration, Instant};

type Handle = *mut c_void;

#[repr(C)]
struct Overlapped {
    internal: usize,
    internal_high: usize,
    offset: u32,
    offset_high: u32,
    event: Handle,
}

#[repr(C)]
#[derive(Default)]
struct ServiceStatusProcess {
    service_type: u32,
    current_state: u32,
    controls_accepted: u32,
    win32_exit_code: u32,
    service_specific_exit_code: u32,
    check_point: u32,
    wait_hint: u32,
    process_id: u32,
    service_flags: u32,
}

#[link(name = "kernel32")]
extern "system" {
    fn GetNamedPipeServerProcessId(pipe: Handle, process_id: *mut u32) -> i32;
    fn WaitNamedPipeW(name: *const u16, timeout_ms: u32) -> i32;
    fn CreateEventW(
        attributes: *mut c_void,
        manual_reset: i32,
        initial: i32,
        name: *const u16,
    ) -> Handle;
    fn CloseHandle(handle: Handle) -> i32;
    fn WriteFile(
        file: Handle,
        data: *const u8,
        size: u32,
        done: *mut u32,
        o: *mut Overlapped,
    ) -> i32;
    fn ReadFile(file: Handle, data: *mut u8, size: u32, done: *mut u32, o: *mut Overlapped) -> i32;
    fn WaitForSingleObject(handle: Handle, timeout_ms: u32) -> u32;
    fn CancelIoEx(file: Handle, o: *mut Overlapped) -> i32;
    fn GetOverlappedResult(file: Handle, o: *mut Overlapped, done: *mut u32, wait: i32) -> i32;
    fn GetLastError() -> u32;
}

#[link(name = "advapi32")]
extern "system" {
    fn OpenSCManagerW(machine: *const u16, database: *const u16, access: u32) -> Handle;
    fn OpenServiceW(manager: Handle, name: *const u16, access: u32) -> Handle;
    fn QueryServiceStatusEx(
        service: Handle,
        level: u32,
        buffer: *mut u8,
        size: u32,
        needed: *mut u32,
    ) -> i32;
    fn CloseServiceHandle(handle: Handle) -> i32;
}

const PIPE_NAME: &str = r"\\.\pipe\vemlox";
const SERVICE_NAME: &str = "vemlox";
const BUSY_WAIT: Duration = Duration::from_secs(30);
const RESPONSE_TIMEOUT: Duration = Duration::from_secs(30);
const MAX_RESPONSE_BYTES: usize = 1 << 20;

const FILE_FLAG_OVERLAPPED: u32 = 0x4000_0000;
const SECURITY_IDENTIFICATION: u32 = 1 << 16;
const SC_MANAGER_CONNECT: u32 = 0x0001;
const SERVICE_QUERY_STATUS: u32 = 0x0004;
const SC_STATUS_PROCESS_INFO: u32 = 0;
const SERVICE_START_PENDING: u32 = 2;
const SERVICE_RUNNING: u32 = 4;
const ERROR_FILE_NOT_FOUND: i32 = 2;
const ERROR_PIPE_BUSY: i32 = 231;
const ERROR_BROKEN_PIPE: u32 = 109;
const ERROR_PIPE_NOT_CONNECTED: u32 = 233;
const ERROR_OPERATION_ABORTED: u32 = 995;
const ERROR_IO_PENDING: u32 = 997;
const ERROR_SERVICE_DOES_NOT_EXIST: u32 = 1060;
const WAIT_OBJECT_0: u32 = 0;
const WAIT_TIMEOUT: u32 = 258;

fn wide(text: &str) -> Vec<u16> {
    text.encode_utf16().chain(Some(0)).collect()
}

fn millis(span: Duration) -> u32 {
    span.as_millis().min(u32::MAX as u128 - 1) as u32
}

fn os_error(code: u32) -> String {
    io::Error::from_raw_os_error(code as i32).to_string()
}

struct ServiceHandle(Handle);

impl Drop for ServiceHandle {
    fn drop(&mut self) {
        unsafe { CloseServiceHandle(self.0) };
    }
}

struct Event(Handle);

impl Drop for Event {
    fn drop(&mut self) {
        unsafe { CloseHandle(self.0) };
    }
}

enum Service {
    NotInstalled,
    Starting,
    Running { process_id: u32 },
    NotRunning,
}

// Asks with the least rights there are: a standard user's app has them.
fn query_service() -> Result<Service, String> {
    let failed = |step: &str| format!("{}: {}", step, os_error(unsafe { GetLastError() }));
    let manager = unsafe { OpenSCManagerW(null_mut(), null_mut(), SC_MANAGER_CONNECT) };
    if manager.is_null() {
        return Err(failed("cannot open the Service Control Manager"));
    }
    let manager = ServiceHandle(manager);
    let service =
        unsafe { OpenServiceW(manager.0, wide(SERVICE_NAME).as_ptr(), SERVICE_QUERY_STATUS) };
    if service.is_null() {
        if unsafe { GetLastError() } == ERROR_SERVICE_DOES_NOT_EXIST {
            return Ok(Service::NotInstalled);
        }
        return Err(failed("cannot open the Vemlox service"));
    }
    let service = ServiceHandle(service);
    let mut status = ServiceStatusProcess::default();
    let mut needed = 0;
    let size = std::mem::size_of::<ServiceStatusProcess>() as u32;
    let status_bytes = &mut status as *mut ServiceStatusProcess as *mut u8;
    if unsafe {
        QueryServiceStatusEx(
            service.0,
            SC_STATUS_PROCESS_INFO,
            status_bytes,
            size,
            &mut needed,
        )
    } == 0
    {
        return Err(failed("cannot query the Vemlox service"));
    }
    Ok(match status.current_state {
        SERVICE_RUNNING => Service::Running {
            process_id: status.process_id,
        },
        SERVICE_START_PENDING => Service::Starting,
        _ => Service::NotRunning,
    })
}

// Identification level (the standard library adds SECURITY_SQOS_PRESENT): a server that is not
// ours can learn who we are but never act as us. Overlapped, so that every wait can end at a
// deadline.
fn open_pipe() -> io::Result<File> {
    OpenOptions::new()
        .read(true)
        .write(true)
        .security_qos_flags(SECURITY_IDENTIFICATION)
        .custom_flags(FILE_FLAG_OVERLAPPED)
        .open(PIPE_NAME)
}

fn connect(deadline: Instant) -> Result<File, String> {
    loop {
        let error = match open_pipe() {
            Ok(pipe) => return Ok(pipe),
            Err(error) => error,
        };
        let left = deadline.saturating_duration_since(Instant::now());
        match error.raw_os_error() {
            // Another client is being served: wait until the service listens again.
            Some(ERROR_PIPE_BUSY) if !left.is_zero() => unsafe {
                WaitNamedPipeW(wide(PIPE_NAME).as_ptr(), millis(left));
            },
            Some(ERROR_PIPE_BUSY) => return Err("the Vemlox service stayed busy".into()),
            // No pipe: an auto-start service may still be starting (an app started at logon
            // meets that). WaitNamedPipeW returns at once while no pipe exists, so poll.
            Some(ERROR_FILE_NOT_FOUND) => match query_service()? {
                Service::Starting | Service::Running { .. } if !left.is_zero() => {
                    sleep(left.min(Duration::from_millis(250)))
                }
                Service::NotInstalled => return Err("the Vemlox service is not installed".into()),
                Service::Starting | Service::Running { .. } => {
                    return Err("the Vemlox service did not open its pipe in time".into())
                }
                Service::NotRunning => return Err("the Vemlox service is not running".into()),
            },
            _ => return Err(format!("cannot open {}: {}", PIPE_NAME, error)),
        }
    }
}

// The pipe's server must be the process the Service Control Manager runs as our service; only
// then may a byte be written.
fn verify_server(pipe: &File) -> Result<(), String> {
    let mut server_process_id = 0;
    if unsafe { GetNamedPipeServerProcessId(pipe.as_raw_handle(), &mut server_process_id) } == 0 {
        return Err(format!(
            "cannot identify the pipe's server: {}",
            os_error(unsafe { GetLastError() })
        ));
    }
    match query_service()? {
        Service::Running { process_id } if process_id == server_process_id => Ok(()),
        _ => Err(format!(
            "{} is served by process {}, which is not the Vemlox service; nothing was sent",
            PIPE_NAME, server_process_id
        )),
    }
}

// One overlapped read or write, waited for until the deadline. On time-out the I/O is cancelled
// and waited for, so the buffer and the OVERLAPPED are free again when this returns.
fn transfer(
    pipe: &File,
    event: &Event,
    deadline: Instant,
    start: impl FnOnce(Handle, *mut Overlapped) -> i32,
) -> Result<u32, u32> {
    let handle = pipe.as_raw_handle();
    let mut overlapped = Overlapped {
        internal: 0,
        internal_high: 0,
        offset: 0,
        offset_high: 0,
        event: event.0,
    };
    if start(handle, &mut overlapped) == 0 {
        let code = unsafe { GetLastError() };
        if code != ERROR_IO_PENDING {
            return Err(code);
        }
        let left = deadline.saturating_duration_since(Instant::now());
        if unsafe { WaitForSingleObject(event.0, millis(left)) } != WAIT_OBJECT_0 {
            unsafe { CancelIoEx(handle, &mut overlapped) };
        }
    }
    let mut moved = 0;
    if unsafe { GetOverlappedResult(handle, &mut overlapped, &mut moved, 1) } != 0 {
        return Ok(moved);
    }
    match unsafe { GetLastError() } {
        ERROR_OPERATION_ABORTED => Err(WAIT_TIMEOUT),
        code => Err(code),
    }
}

fn exchange(pipe: &File, request: &str) -> Result<String, String> {
    let deadline = Instant::now() + RESPONSE_TIMEOUT;
    let event = unsafe { CreateEventW(null_mut(), 1, 0, null_mut()) };
    if event.is_null() {
        return Err(format!(
            "cannot create an event: {}",
            os_error(unsafe { GetLastError() })
        ));
    }
    let event = Event(event);
    let failed = |what: &str, code: u32| match code {
        WAIT_TIMEOUT => {
            "no response from the Vemlox service in time; the connection was closed".to_string()
        }
        _ => format!("{} failed: {}", what, os_error(code)),
    };

    let line = format!("{}\n", request);
    let mut rest = line.as_bytes();
    while !rest.is_empty() {
        let written = transfer(pipe, &event, deadline, |handle, overlapped| unsafe {
            WriteFile(
                handle,
                rest.as_ptr(),
                rest.len() as u32,
                null_mut(),
                overlapped,
            )
        });
        match written.map_err(|code| failed("sending the request", code))? {
            0 => return Err("sending the request failed: the pipe took nothing".into()),
            count => rest = &rest[count as usize..],
        }
    }

    let mut response = Vec::new();
    let mut chunk = [0u8; 4096];
    while !response.contains(&b'\n') {
        if response.len() > MAX_RESPONSE_BYTES {
            return Err("the response is too long".into());
        }
        match transfer(pipe, &event, deadline, |handle, overlapped| unsafe {
            ReadFile(
                handle,
                chunk.as_mut_ptr(),
                chunk.len() as u32,
                null_mut(),
                overlapped,
            )
        }) {
            Ok(read) if read > 0 => response.extend_from_slice(&chunk[..read as usize]),
            // The service closed the connection without a line: it may be stopping.
            Ok(_) | Err(ERROR_BROKEN_PIPE) | Err(ERROR_PIPE_NOT_CONNECTED) => {
                return Err("the service closed the connection without a response".into())
            }
            Err(code) => return Err(failed("reading the response", code)),
        }
    }
    let end = response
        .iter()
        .position(|&byte| byte == b'\n')
        .unwrap_or(response.len());
    response.truncate(end);
    String::from_utf8(response).map_err(|_| "the response is not UTF-8".to_string())
}

fn ping() -> Result<(), String> {
    let pipe = connect(Instant::now() + BUSY_WAIT)?;
    verify_server(&pipe)?;
    let response = exchange(&pipe, r#"{"op":"ping"}"#)?;
    // An app decodes the line with a JSON library and ignores members it does not know; this one
    // relies on "status" coming first, as the service writes it.
    if response.starts_with(r#"{"status":"ok""#) {
        Ok(())
    } else {
        Err(format!("error response: {}", response))
    }
}

fn main() -> ExitCode {
    match ping() {
        Ok(()) => {
            println!("ping: ok");
            ExitCode::SUCCESS
        }
        Err(reason) => {
            println!("ping: {}", reason);
            ExitCode::FAILURE
        }
    }
}
