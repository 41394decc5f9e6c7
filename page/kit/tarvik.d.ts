// Types for tarvik.js, the Tarvik page kit. Copy this file beside tarvik.js; TypeScript and
// editors that read JSDoc (`// @ts-check` in a plain script) then know every command, notice and
// event. The message types at the end are made from page/protocol.schema.json.

/** How the page runs: in the assistant's window, with the simulator, or as a bare preview. */
export type Mode = 'hosted' | 'simulated' | 'preview';
export type WindowState = WindowNotice['state'];
export type FailureReason = DownloadFailedNotice['reason'];
export type DownloadState = 'requested' | 'running' | 'finished' | 'failed';
export type DownloadOutcome = { state: 'finished' } | { state: 'failed'; reason: FailureReason };

export interface DownloadOptions {
  /** true (the default): into the Downloads folder; false: the host asks where to save. */
  silent?: boolean;
  /** The installer's SHA-256 as 64 hexadecimal digits: the host keeps only a file that has it. */
  sha256?: string;
  /** The text of the installer's minisign signature file, for a program built with the vendor's key. */
  minisig?: string;
}

type Listener<T, E> = ((this: T, event: E) => unknown) | { handleEvent(event: E): unknown };

/** One installer download as the host reports it. */
export class Download extends EventTarget {
  private constructor();
  /** The address asked for; null for a download the page learned of from a notice. */
  readonly url: string | null;
  readonly silent: boolean | null;
  readonly sha256: string | null;
  /** "requested" until the host's start notice (a cancelled save dialog leaves it there). */
  readonly state: DownloadState;
  readonly ended: boolean;
  /** Bytes received, from the last progress or received notice. */
  readonly received: number;
  /** The length the server gave; null while unknown (then only received notices come). */
  readonly total: number | null;
  /** received ÷ total × 100, as the host computed it (above 100 when the length was wrong). */
  readonly percent: number | null;
  /** The name the file is saved under, from the host's file notice; null until told. */
  readonly fileName: string | null;
  /** The name of the folder it is saved in (never a whole path); null until told. */
  readonly folderName: string | null;
  /** How often the host has connected again during this download. */
  readonly reconnections: number;
  readonly reason: FailureReason | null;
  /** Resolves when the download has finished or failed; never rejects. */
  readonly done: Promise<DownloadOutcome>;
  /** Asks the host to stop; it fails with reason "cancelled". Resolves as `done` does. */
  cancel(): Promise<DownloadOutcome>;

  addEventListener<K extends keyof DownloadNoticeEventMap>(type: K, listener: Listener<Download, DownloadNoticeEventMap[K]>, options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof DownloadNoticeEventMap>(type: K, listener: Listener<Download, DownloadNoticeEventMap[K]>, options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | EventListenerOptions): void;
}

export interface TarvikEventMap extends KitNoticeEventMap {
  /** Every notice the host sends, as it arrived. */
  notice: CustomEvent<Notice>;
  /** A download the page did not ask for through the kit (one that ran before a reload). */
  download: CustomEvent<Download>;
}

/** The frameless window; the page draws its title bar and buttons. */
export interface HostWindow {
  /** As the host last reported it (by a command or by the desktop); null before it has. */
  readonly state: WindowState | null;
  /** Sizes (logical pixels at 96 dpi), titles, centres and shows the window. */
  resize(size?: { width?: number; height?: number; title?: string }): void;
  /** From a left-button "mousedown" or "pointerdown" on the title bar: the host moves the window. */
  startDrag(event: MouseEvent): void;
  minimize(): void;
  maximize(): void;
  restore(): void;
  /**
   * Ends the program. While a download runs and `force` is false (the default), the host keeps
   * the window open and the promise resolves with its close notice; otherwise it never resolves.
   */
  close(options?: { force?: boolean }): Promise<CloseQuestionNotice>;
}

/** The simulator that stands in for the host in an ordinary browser (tarvik-simulator.js). */
export interface Simulator {
  /** The usage events the host would have reported, in order. */
  readonly events: readonly string[];
  /** Sets what the next download meets, e.g. "size:8M,rate:1M,fail:http". */
  configure(script: string): void;
  /** Minimises, maximises or restores the window as the desktop would. */
  desktop(action: 'minimize' | 'maximize' | 'restore'): void;
}

export interface Tarvik extends EventTarget {
  readonly mode: Mode;
  readonly isHosted: boolean;
  /** Resolves once commands can reach the host or the simulator. */
  readonly ready: Promise<void>;
  readonly window: HostWindow;
  readonly simulator: Simulator | null;
  /** The download the host runs or ran last, as far as the page knows. */
  readonly currentDownload: Download | null;
  /** Downloads the installer; while a download runs, returns it. Throws TypeError on arguments the host would ignore. */
  download(url: string, options?: DownloadOptions): Download;
  /** Starts the downloaded installer. */
  install(): void;
  /** Shows the downloaded file in the file manager. */
  reveal(): void;
  /** Opens an http or https address in the default browser, or a mail link with an address in the mail program; throws TypeError on any other. */
  openUrl(url: string): void;
  /** Reports a usage event to the vendor's service. */
  report(event: string): void;
  /** Any command as it is, for one the kit does not wrap. */
  send(msgType: string, msgData?: unknown): void;

  addEventListener<K extends keyof TarvikEventMap>(type: K, listener: Listener<Tarvik, TarvikEventMap[K]>, options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof TarvikEventMap>(type: K, listener: Listener<Tarvik, TarvikEventMap[K]>, options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | EventListenerOptions): void;
}

declare const tarvik: Tarvik;
export default tarvik;

export const isHosted: boolean;
export const hostWindow: HostWindow;
export function download(url: string, options?: DownloadOptions): Download;
export function install(): void;
export function reveal(): void;
export function openUrl(url: string): void;
export function report(event: string): void;

// protocol-gen: types (made from page/protocol.schema.json; edit it there)
/** sizes, titles, centres and shows the window; reports event `"5"` */
export interface ResizeWindowCommand {
  msg_type: "resize_window";
  msg_data?: {
    /** logical pixels at 96 dpi */
    width?: number;
    /** logical pixels at 96 dpi */
    height?: number;
    /** the window's title */
    window_text?: string;
  };
}

/** drag the frameless window: `mousedown` starts the drag */
export interface DragCommand {
  msg_type: "mousedown" | "mousemove" | "mouseup";
  msg_data: {
    /** client coordinate */
    x: number;
    /** client coordinate */
    y: number;
  };
}

/** as named; the window notice follows when the window's state changes */
export interface WindowStateCommand {
  msg_type: "minimize" | "maximize" | "restore";
  /** not read */
  msg_data?: unknown;
}

/** ends the program; while a download runs and `force_close` is false, the window stays open and the page gets the close notice */
export interface CloseCommand {
  msg_type: "close";
  msg_data: {
    /** boolean; true ends a running download too */
    force_close: boolean;
  };
}

/** downloads the installer, silently into the Downloads folder (never over an existing file, see below) or where the user chooses in a save dialog; with `sha256`, the file must have that SHA-256 or the download fails with reason `verify`; in a program built with an installer key, the file must carry a signature by that key, given in `minisig` or fetched from the URL with `.minisig` added (see [Signed installers](#signed-installers)); while a download runs or after it finished, repeats the current notice */
export interface DownloadCommand {
  msg_type: "dnld";
  msg_data: {
    /** the installer's http or https address */
    url: string;
    /** boolean; false asks where to save */
    silent: boolean;
    /** 64 hexadecimal digits, either case */
    sha256?: string;
    /** the text of the installer's minisign signature file */
    minisig?: string;
  };
}

/** while a download runs, stops it, removes its temporary file and answers with the failure notice, reason `cancelled` (a new `dnld` may follow); otherwise nothing, also once every byte is in and the file is being checked and put in place: that outcome (finished or failed) follows */
export interface CancelDownloadCommand {
  msg_type: "dnld_cancel";
  /** not read */
  msg_data?: unknown;
}

/** starts the installer this run downloaded, once its download has finished (see the launch table below), and answers with the install notice, started or failed and why; on failure, a message box with the cause and the file's place, then the file manager shows the file (or, with no finished download, the folder it goes to or the Downloads folder); a second `install` while the first waits for the user's authorisation is ignored */
export interface InstallCommand {
  msg_type: "install";
  /** not read */
  msg_data?: unknown;
}

/** shows the downloaded file in the file manager; before a download has finished, its folder or the Downloads folder */
export interface RevealCommand {
  msg_type: "open_dnld_dir";
  /** not read */
  msg_data?: unknown;
}

/** opens the link in the default browser or mail program; reports event `"4"`, only when the link was handed to the desktop: any other scheme (`file:`, `smb:`, ...), a link holding white space or control characters, and a `mailto:` link without an address or with a character a URL must percent-encode (a quote, a backslash) open nothing and report nothing */
export interface OpenUrlCommand {
  msg_type: "open_url";
  msg_data: {
    /** an absolute `http` or `https` address, or a `mailto:` link with at least one address (`mailto:support@example.com?subject=Setup`) */
    url: string;
  };
}

/** reports that event to the service */
export interface ReportCommand {
  msg_type: "post_data";
  msg_data: {
    /** the event's code */
    event_id: string;
  };
}

/** download started */
export interface DownloadStartNotice {
  msg_type: "dnld";
  status: 1;
  status_text: "dnld_start";
}

/** progress (only with a known length, at most about 20 a second) */
export interface ProgressNotice {
  /** bytes received */
  dl_now: number;
  /** percent: dl_now ÷ dl_total × 100, above 100 when the server's length was too small */
  dl_progress: number;
  /** the length the server gave */
  dl_total: number;
  msg_type: "dl_progress";
  status: true;
}

/** where the download is saved, right after the start notice and again before the end when the name changed (a silent download numbered past a file that appeared meanwhile): the file's name and its folder's name, never the whole path */
export interface DownloadFileNotice {
  /** the file's name, e.g. Setup (1).exe */
  file_name: string;
  /** the folder's own name, e.g. Downloads */
  folder_name: string;
  msg_type: "dl_file";
}

/** progress while the server gave no length (at most about 20 a second): only the bytes so far */
export interface ReceivedNotice {
  /** bytes received */
  dl_now: number;
  msg_type: "dl_received";
}

/** the connection was lost and the host is connecting again by itself (`attempt`: 1 for the first time in this download); progress or the end follows */
export interface RetryNotice {
  /** the reconnection's number in this download */
  attempt: number;
  msg_type: "dl_retry";
}

/** download finished */
export interface DownloadFinishedNotice {
  msg_type: "dnld";
  status: 2;
  status_text: "dnld_finished";
}

/** download failed (`reason`: `network`, `http`, `file`, `verify` when the file's SHA-256 is not the `sha256` the page gave or, in a program built with an installer key, its signature does not hold, or `cancelled` after `dnld_cancel`); a new `dnld` may follow */
export interface DownloadFailedNotice {
  msg_type: "dnld";
  reason: "network" | "http" | "file" | "verify" | "cancelled";
  status: 0;
  status_text: "dnld_failed";
}

/** the installer was started after `install` (for one that needs administrator rights: once they were given) */
export interface InstallStartedNotice {
  msg_type: "install";
  status_text: "install_started";
}

/** the installer could not be started (`reason`: `dismissed` the request for administrator rights, `not_authorized` when no authentication agent could ask or the password was refused, `not_executable`, `no_file` when no download of this run has finished, `failed` otherwise); the host's message box and the file's folder follow */
export interface InstallFailedNotice {
  msg_type: "install";
  reason: "dismissed" | "not_authorized" | "not_executable" | "no_file" | "failed";
  status_text: "install_failed";
}

/** close asked while downloading */
export interface CloseQuestionNotice {
  msg_type: "close";
  status: 1;
  status_text: "dnld_running";
}

/** the window was minimised, maximised or restored, by a command or by the desktop (`state`: `minimized`, `maximized` or `normal`) */
export interface WindowNotice {
  msg_type: "window";
  state: "minimized" | "maximized" | "normal";
}

/** A command from the page. Messages that are not valid JSON, have an unknown msg_type, lack a required argument, or have an argument of the wrong type or form are ignored by the host. */
export type Command =
  | ResizeWindowCommand
  | DragCommand
  | WindowStateCommand
  | CloseCommand
  | DownloadCommand
  | CancelDownloadCommand
  | InstallCommand
  | RevealCommand
  | OpenUrlCommand
  | ReportCommand;

/** A notice from the host. */
export type Notice =
  | DownloadStartNotice
  | ProgressNotice
  | DownloadFileNotice
  | ReceivedNotice
  | RetryNotice
  | DownloadFinishedNotice
  | DownloadFailedNotice
  | InstallStartedNotice
  | InstallFailedNotice
  | CloseQuestionNotice
  | WindowNotice;

/** The events a download gets from the host's notices. */
export interface DownloadNoticeEventMap {
  start: CustomEvent<DownloadStartNotice>;
  progress: CustomEvent<ProgressNotice>;
  file: CustomEvent<DownloadFileNotice>;
  received: CustomEvent<ReceivedNotice>;
  retry: CustomEvent<RetryNotice>;
  finished: CustomEvent<DownloadFinishedNotice>;
  failed: CustomEvent<DownloadFailedNotice>;
}

/** The events the kit itself gets from the notices that are not about the download. */
export interface KitNoticeEventMap {
  install: CustomEvent<InstallStartedNotice | InstallFailedNotice>;
  close: CustomEvent<CloseQuestionNotice>;
  window: CustomEvent<WindowNotice>;
}
// protocol-gen: end types
