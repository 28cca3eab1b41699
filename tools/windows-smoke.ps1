# Checks an installed Tessera on a real Windows 10/11 machine and prints a
# report to paste into a bug report. Run it as the user who installed
# Tessera, in a PowerShell window:
#
#   powershell -ExecutionPolicy Bypass -File windows-smoke.ps1
#
# It reads the browsers' registry keys and manifests, sends the host one
# frame, and lists the certificates of the user's MY store as Tessera sees
# them, without opening any key (so no PIN is asked). It writes nothing but
# the report, tessera-smoke.txt on the Desktop.
$ErrorActionPreference = 'Stop'
$report = New-Object System.Collections.Generic.List[string]
function Say([string]$line) { $report.Add($line); Write-Host $line }

Say "Tessera smoke check, $(Get-Date -Format s)"
Say "Windows $([Environment]::OSVersion.Version), $([Environment]::Is64BitOperatingSystem | ForEach-Object { if ($_) { '64-bit' } else { '32-bit' } })"

# The four browsers' keys, each naming a manifest that names the host.
$hostName = 'org.tessera.host'
$keys = [ordered]@{
  'Chrome'   = "HKCU:\Software\Google\Chrome\NativeMessagingHosts\$hostName"
  'Chromium' = "HKCU:\Software\Chromium\NativeMessagingHosts\$hostName"
  'Edge'     = "HKCU:\Software\Microsoft\Edge\NativeMessagingHosts\$hostName"
  'Firefox'  = "HKCU:\Software\Mozilla\NativeMessagingHosts\$hostName"
}
$hostPath = $null
foreach ($browser in $keys.Keys) {
  $manifest = (Get-ItemProperty -Path $keys[$browser] -ErrorAction SilentlyContinue).'(default)'
  if (-not $manifest) { Say "FAIL $browser key missing: $($keys[$browser])"; continue }
  if (-not (Test-Path -LiteralPath $manifest -PathType Leaf)) { Say "FAIL $browser manifest missing: $manifest"; continue }
  try { $json = Get-Content -LiteralPath $manifest -Raw | ConvertFrom-Json } catch { Say "FAIL $browser manifest unreadable: $manifest"; continue }
  $exe = $json.path
  if (-not [IO.Path]::IsPathRooted($exe)) { $exe = Join-Path (Split-Path -Parent $manifest) $exe }
  $allowed = @($json.allowed_origins) + @($json.allowed_extensions) | Where-Object { $_ }
  if ($json.name -ne $hostName -or -not (Test-Path -LiteralPath $exe -PathType Leaf)) {
    Say "FAIL $browser manifest $manifest names '$($json.name)' at $exe"
    continue
  }
  Say "ok   $browser -> $manifest (host $exe; allows $($allowed -join ', '))"
  $hostPath = $exe
}

# One frame: GetLastErrorDesc answers before anything is selected.
if ($hostPath) {
  $start = New-Object System.Diagnostics.ProcessStartInfo $hostPath
  $start.UseShellExecute = $false
  $start.RedirectStandardInput = $true
  $start.RedirectStandardOutput = $true
  $process = [System.Diagnostics.Process]::Start($start)
  $body = [Text.Encoding]::UTF8.GetBytes('{"function":"GetLastErrorDesc","params":[]}')
  $stdin = $process.StandardInput.BaseStream
  $stdin.Write([BitConverter]::GetBytes([int32]$body.Length), 0, 4)
  $stdin.Write($body, 0, $body.Length)
  $stdin.Close()
  $stdout = $process.StandardOutput.BaseStream
  $length = New-Object byte[] 4
  $read = 0
  while ($read -lt 4) { $n = $stdout.Read($length, $read, 4 - $read); if ($n -le 0) { break }; $read += $n }
  if ($read -eq 4) {
    $answer = New-Object byte[] ([BitConverter]::ToInt32($length, 0))
    $read = 0
    while ($read -lt $answer.Length) { $n = $stdout.Read($answer, $read, $answer.Length - $read); if ($n -le 0) { break }; $read += $n }
    Say "ok   host answered: $([Text.Encoding]::UTF8.GetString($answer, 0, $read))"
  } else {
    Say "FAIL host gave no frame"
  }
  if (-not $process.WaitForExit(10000)) { $process.Kill(); Say "FAIL host did not exit at the end of its input" }
  else { Say "ok   host exit code $($process.ExitCode)" }
}

# The MY store: each certificate with a private key, its provider as the
# certificate names it (dwProvType 0 is a CNG key storage provider), and its
# key type. Reading the property opens no key.
Add-Type -Namespace Tessera -Name Crypt32 -MemberDefinition @'
[DllImport("crypt32.dll", SetLastError = true)]
public static extern bool CertGetCertificateContextProperty(IntPtr pCertContext, uint dwPropId, IntPtr pvData, ref uint pcbData);
'@
Say "MY store:"
foreach ($cert in Get-ChildItem Cert:\CurrentUser\My) {
  $size = [uint32]0
  $provider = 'no key'
  if ([Tessera.Crypt32]::CertGetCertificateContextProperty($cert.Handle, 2, [IntPtr]::Zero, [ref]$size)) {
    $buffer = [Runtime.InteropServices.Marshal]::AllocHGlobal([int]$size)
    try {
      [void][Tessera.Crypt32]::CertGetCertificateContextProperty($cert.Handle, 2, $buffer, [ref]$size)
      # CRYPT_KEY_PROV_INFO: container, provider name, provider type, ...
      $container = [Runtime.InteropServices.Marshal]::PtrToStringUni([Runtime.InteropServices.Marshal]::ReadIntPtr($buffer, 0))
      $name = [Runtime.InteropServices.Marshal]::PtrToStringUni([Runtime.InteropServices.Marshal]::ReadIntPtr($buffer, [IntPtr]::Size))
      $type = [Runtime.InteropServices.Marshal]::ReadInt32($buffer, 2 * [IntPtr]::Size)
      $api = if ($type -eq 0) { 'CNG' } else { "CAPI type $type" }
      $provider = "$name ($api), container $container"
    } finally { [Runtime.InteropServices.Marshal]::FreeHGlobal($buffer) }
  }
  $usage = ($cert.Extensions | Where-Object { $_.Oid.Value -eq '2.5.29.15' } | ForEach-Object { $_.KeyUsages }) -join ''
  Say "  $($cert.Subject)"
  Say "     key $($cert.PublicKey.Oid.FriendlyName); usage $(if ($usage) { $usage } else { 'any' }); expires $($cert.NotAfter.ToString('yyyy-MM-dd')); $provider"
}

$file = Join-Path ([Environment]::GetFolderPath('Desktop')) 'tessera-smoke.txt'
$report | Set-Content -LiteralPath $file -Encoding UTF8
Write-Host "`nThe report is also in $file"
