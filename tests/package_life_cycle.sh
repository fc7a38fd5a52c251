# Installs, upgrades, removes and purges the package given as $1 in a mount namespace of its own
# (run under `unshare -m`): empty file systems over every folder the package or the service
# writes, and a copy of the dpkg database, so the machine itself is never touched. After each
# step the files the step leaves go into $2/<step>. Exits 99 when the namespace cannot be made.
deb=$1 out=$2
for folder in /opt /etc/systemd/system /etc/logrotate.d /usr/share/doc /usr/share/man /var/cache/man; do
  mount -t tmpfs tmpfs "$folder" || exit 99
done
cp -a /var/lib/dpkg "$out/dpkg" && mount --bind "$out/dpkg" /var/lib/dpkg || exit 99
unit=/etc/systemd/system/QuorvelServer.service
snapshot() { find /opt /etc/systemd/system /etc/logrotate.d -mindepth 1 | sort >"$out/$1"; }
dpkg() { command dpkg --log=/dev/null "$@" >>"$out/dpkg.out" 2>&1 || echo "dpkg $* failed" >>"$out/failures"; }

dpkg -i "$deb"; snapshot installed
echo "[Main]" >/opt/quorvel/options.ini
echo "log" | tee /opt/quorvel/mail.log >/opt/quorvel/mail.log.1
mkdir -p /opt/quorvel/mail/buh && echo "a" >/opt/quorvel/mail/buh/a.txt
/opt/quorvel/quorvel-server /i >/dev/null 2>&1
cp "$unit" "$out/unit"
sed -i 's/TimerInterval=1000/TimerInterval=5000/' "$unit.d/parameters.conf"
printf '[Service]\nNice=5\n' >"$unit.d/override.conf"
echo "stale" >"$unit"
dpkg -i "$deb"; snapshot upgraded
cp "$unit" "$out/unit.upgraded"; cp "$unit.d/parameters.conf" "$out/parameters.upgraded"
dpkg -r quorvel-server; snapshot removed
dpkg -P quorvel-server; snapshot purged
rm -r /opt/quorvel/mail
dpkg -i "$deb"; dpkg -P quorvel-server; snapshot purged-empty
