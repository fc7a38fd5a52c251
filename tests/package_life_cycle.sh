# Installs, upgrades, removes and purges the package given as $1 in a mount namespace of its own
# (run under `unshare -m`): empty file systems over every folder the package or the service
# writes, and a copy of the dpkg database, so the machine itself is never touched. systemd seems
# to run, and a stand-in for systemctl and deb-systemd-invoke writes each call into $2/calls
# (enable and disable it hands on to the real systemctl, offline). After each step the files the
# step leaves go into $2/<step>. Exits 99 when the namespace cannot be made.
deb=$1 out=$2
for folder in /opt /etc/systemd/system /etc/logrotate.d /usr/share/doc /usr/share/man /var/cache/man /run/systemd; do
  mount -t tmpfs tmpfs "$folder" || exit 99
done
cp -a /var/lib/dpkg "$out/dpkg" && mount --bind "$out/dpkg" /var/lib/dpkg || exit 99
mkdir /run/systemd/system && cp /usr/bin/systemctl "$out/systemctl.real" || exit 99
printf '#!/bin/sh\necho "${0##*/} $*" >>%s/calls\ncase "$1" in enable|disable) exec %s/systemctl.real --root=/ "$@" ;; esac\n' \
  "$out" "$out" >"$out/stand-in" && chmod +x "$out/stand-in" || exit 99
for tool in systemctl deb-systemd-invoke; do mount --bind "$out/stand-in" "/usr/bin/$tool" || exit 99; done
unit=/etc/systemd/system/QuorvelServer.service
snapshot() { find /opt /etc/systemd/system /etc/logrotate.d -mindepth 1 ! -name multi-user.target.wants | sort >"$out/$1"; echo "-- $1" >>"$out/calls"; }
dpkg() { command dpkg --log=/dev/null "$@" >>"$out/dpkg.out" 2>&1 || echo "dpkg $* failed" >>"$out/failures"; }

dpkg -i "$deb"; snapshot installed
echo "[Main]" >/opt/quorvel/options.ini
echo "log" | tee /opt/quorvel/mail.log >/opt/quorvel/mail.log.1
mkdir -p /opt/quorvel/mail/buh && echo "a" >/opt/quorvel/mail/buh/a.txt
/opt/quorvel/quorvel-server /i >/dev/null 2>&1; echo "-- /i" >>"$out/calls"
cp "$unit" "$out/unit"
sed -i 's/TimerInterval=1000/TimerInterval=5000/' "$unit.d/parameters.conf"
printf '[Service]\nNice=5\n' >"$unit.d/override.conf"
echo "stale" >"$unit"
rm /etc/systemd/system/multi-user.target.wants/QuorvelServer.service
dpkg -i "$deb"; snapshot upgraded
cp "$unit" "$out/unit.upgraded"; cp "$unit.d/parameters.conf" "$out/parameters.upgraded"
dpkg -r quorvel-server; snapshot removed
dpkg -P quorvel-server; snapshot purged
rm -r /opt/quorvel/mail
dpkg -i "$deb"; dpkg -P quorvel-server; snapshot purged-empty
