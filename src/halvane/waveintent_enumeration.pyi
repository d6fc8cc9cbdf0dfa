"""The recipe catalogue: one WaveIntent subclass per native operation."""

from halvane import waveintent as pw
import halvane.waveintent


pi: float = 3.141592653589793

pi2: float = 1.5707963267948966

def pi_gate(w: dict, cp: dict) -> None:
    """
    Apply the 'pi' calibration to ``w`` in place.

    ``w.update(cp['pi'])``, then ``w['vz'] += cp['pi']['phase_offs']``.
    """

def pi2gate(w: dict, cp: dict) -> None:
    """
    Apply the 'pi2' calibration to ``w`` in place.

    ``w.update(cp['pi2'])``, then ``w['vz'] += cp['pi2']['phase_offs']``.
    """

def pi12_gate(w: dict, cp: dict) -> None:
    """
    Apply the 'pi12' calibration to ``w`` in place.

    ``w.update(cp['pi12'])``, then ``w['vz'] += cp['pi12']['phase_offs']``.
    """

def pi23_gate(w: dict, cp: dict) -> None:
    """
    Apply the 'pi23' calibration to ``w`` in place.

    ``w.update(cp['pi23'])``, then ``w['vz'] += cp['pi23']['phase_offs']``.
    """

_collaborators: tuple[str, ...]

class I_p(halvane.waveintent.WaveIntent):
    """Identity: amp, width and plateau 0; reads nothing from cp."""

    __mnr_type__: str = 'I_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class X_p(halvane.waveintent.WaveIntent):
    """Rotation by pi about X: the 'pi' calibration, phase 0."""

    __mnr_type__: str = 'X_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class Y_p(halvane.waveintent.WaveIntent):
    """Rotation by pi about Y: the 'pi' calibration, phase pi/2."""

    __mnr_type__: str = 'Y_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class mX_p(halvane.waveintent.WaveIntent):
    """Rotation by -pi about X: the 'pi' calibration, phase pi."""

    __mnr_type__: str = 'mX_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class mY_p(halvane.waveintent.WaveIntent):
    """Rotation by -pi about Y: the 'pi' calibration, phase 3*pi/2."""

    __mnr_type__: str = 'mY_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class X2_p(halvane.waveintent.WaveIntent):
    """Rotation by pi/2 about X: the 'pi2' calibration, phase 0."""

    __mnr_type__: str = 'X2_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class Y2_p(halvane.waveintent.WaveIntent):
    """Rotation by pi/2 about Y: the 'pi2' calibration, phase pi/2."""

    __mnr_type__: str = 'Y2_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class mX2_p(halvane.waveintent.WaveIntent):
    """Rotation by -pi/2 about X: the 'pi2' calibration, phase pi."""

    __mnr_type__: str = 'mX2_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class mY2_p(halvane.waveintent.WaveIntent):
    """Rotation by -pi/2 about Y: the 'pi2' calibration, phase 3*pi/2."""

    __mnr_type__: str = 'mY2_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class F_p(halvane.waveintent.WaveIntent):
    """Zero-frequency pulse: the 'fp' calibration entries, freq 0."""

    __mnr_type__: str = 'F_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class W_p(halvane.waveintent.WaveIntent):
    """Rotation by pi about W: the 'pi' calibration, phase pi/4."""

    __mnr_type__: str = 'W_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class mW_p(halvane.waveintent.WaveIntent):
    """Rotation by -pi about W: the 'pi' calibration, phase 5*pi/4."""

    __mnr_type__: str = 'mW_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class W2_p(halvane.waveintent.WaveIntent):
    """Rotation by pi/2 about W: the 'pi2' calibration, phase pi/4."""

    __mnr_type__: str = 'W2_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class mW2_p(halvane.waveintent.WaveIntent):
    """Rotation by -pi/2 about W: the 'pi2' calibration, phase 5*pi/4."""

    __mnr_type__: str = 'mW2_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class VZ_left_p(halvane.waveintent.WaveIntent):
    """
    Virtual Z on the left: amp 0, vz from cp['vz_left']; width and plateau kept.
    """

    __mnr_type__: str = 'VZ_left_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class VZ_right_p(halvane.waveintent.WaveIntent):
    """
    Virtual Z on the right: amp 0, vz from cp['vz_right']; width and plateau kept.
    """

    __mnr_type__: str = 'VZ_right_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class Vz_p(halvane.waveintent.WaveIntent):
    """Virtual Z: a zero-length description carrying vz from cp['vz']."""

    __mnr_type__: str = 'Vz_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class X12_p(halvane.waveintent.WaveIntent):
    """Rotation between levels 1 and 2: the 'pi12' calibration."""

    __mnr_type__: str = 'X12_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class X23_p(halvane.waveintent.WaveIntent):
    """Rotation between levels 2 and 3: the 'pi23' calibration."""

    __mnr_type__: str = 'X23_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class X232_p(halvane.waveintent.WaveIntent):
    """
    Half rotation between levels 2 and 3: the 'pi23' calibration, amp halved.
    """

    __mnr_type__: str = 'X232_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class Xf0g1_p(halvane.waveintent.WaveIntent):
    """f0-g1 pulse: the 'f0g1' calibration entries."""

    __mnr_type__: str = 'Xf0g1_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class Coup_off_p(halvane.waveintent.WaveIntent):
    """
    Coupler-off pulse: amp cp['offamp'], plateau cp['offplateau'], freq and width 0.
    """

    __mnr_type__: str = 'Coup_off_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

class M_p(halvane.waveintent.WaveIntent):
    """Measurement pulse: the 'M01' calibration entries."""

    __mnr_type__: str = 'M_p'

    def will(self, w: dict, cp: dict) -> None:
        """Write this recipe's calibration values into ``w`` (changed in place)."""

__all__: list = ['pi', 'pi2', 'pi_gate', 'pi2gate', 'pi12_gate', 'pi23_gate', 'I_p', 'X_p', 'Y_p', 'mX_p', 'mY_p', 'X2_p', 'Y2_p', 'mX2_p', 'mY2_p', 'F_p', 'W_p', 'mW_p', 'W2_p', 'mW2_p', 'VZ_left_p', 'VZ_right_p', 'Vz_p', 'X12_p', 'X23_p', 'X232_p', 'Xf0g1_p', 'Coup_off_p', 'M_p']
